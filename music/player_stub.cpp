// Placeholder until the player lands.
#include "music/player.h"
#include "shell/demo.h"

Player* playerCreate() { return nullptr; }
void playerDestroy() {}
bool playerStart(Player*) { return false; }
bool playerStop(Player*) { return false; }
int playerGetOrder(Player*) { return 0; }
int playerGetRow(Player*) { return 0; }
