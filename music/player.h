// Music player lifecycle and song clock.
#pragma once
#include <cstdint>

struct Player;

// Opens the device and loads the embedded song; the caller keeps the player.
Player* playerCreate();
void playerDestroy(Player* player);   // stops it, frees the song, closes the device
bool playerStart(Player* player);
bool playerStop(Player* player);
int playerGetOrder(Player* player);
int playerGetRow(Player* player);
