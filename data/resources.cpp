// Linux resource table: the module is resource RAWDATA 130, as on Windows.
#include "data/embedded.h"

extern const uint8_t embeddedTune[];
extern const uint32_t embeddedTuneSize;

extern const EmbeddedResource embeddedResources[] = {
    {MUSIC_RESOURCE_ID, "RAWDATA", embeddedTune, &embeddedTuneSize},
};
extern const uint32_t embeddedResourceCount = 1;
