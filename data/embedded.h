// The files that travel inside the executable. Each array is the whole file
// followed by one zero byte; the Size values include that byte.
#pragma once
#include <cstdint>

extern const uint8_t titleCardImage[];
extern const uint32_t titleCardImageSize;
extern const uint8_t smileyImage[];
extern const uint32_t smileyImageSize;
extern const uint8_t embeddedModel[];
extern const uint32_t embeddedModelSize;

// The resource table behind platResource where the system has no resources
// of its own (everywhere but Windows).
struct EmbeddedResource {
    int32_t id;
    const char* type;
    const uint8_t* data;
    const uint32_t* size;   // array length, trailing zero byte included
};
extern const EmbeddedResource embeddedResources[];
extern const uint32_t embeddedResourceCount;

enum { MUSIC_RESOURCE_ID = 130 };
