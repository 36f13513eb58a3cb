// Music player lifecycle and song clock.
#pragma once
#include <cstdint>

struct Player;

Player* playerCreate();
void playerDestroy(Player* player);
bool playerStart(Player* player);
bool playerStop(Player* player);
int playerGetOrder(Player* player);
int playerGetRow(Player* player);
