// The player's lifecycle: the song from the embedded resource on an open device,
// started and stopped from the main thread, and the song position the listener
// hears now. The caller owns the player from playerCreate to playerDestroy.
#include "music/player.h"

#include "data/embedded.h"
#include "music/module.h"
#include "music/output.h"
#include "music/sequencer.h"

Player* playerCreate() {
    installResourceStreamHooks();
    audioOpen(PLAT_OUTPUT_RATE);
    Player* player = moduleOpen(MUSIC_RESOURCE_ID, nullptr);
    if (player)
        player->tickRoutine = playerTick;
    return player;
}

void playerDestroy(Player* player) {
    moduleFree(player);   // stops it first if it plays
    audioClose();
}

bool playerStart(Player* player) {
    if (!player)
        return false;
    audioStop();
    return audioPlay(player);
}

bool playerStop(Player* player) {
    if (!player)
        return false;
    audioStop();
    return true;
}

int playerGetOrder(Player* player) {
    return player ? audioPositionRecord(audioHeardBlock()).order : 0;
}

int playerGetRow(Player* player) {
    return player ? audioPositionRecord(audioHeardBlock()).row : 0;
}
