// Resources from the table of embedded arrays, for the backends whose
// system has no resources of its own (Windows keeps them in the executable).
#include <cstring>
#include "platform/platform.h"
#include "data/embedded.h"

bool platResource(int32_t id, const char* type, const uint8_t** data, uint32_t* size) {
    for (uint32_t i = 0; i < embeddedResourceCount; ++i) {
        const EmbeddedResource& r = embeddedResources[i];
        if (r.id == id && std::strcmp(r.type, type) == 0) {
            *data = r.data;
            *size = *r.size - 1;   // the table's arrays carry a trailing zero byte
            return true;
        }
    }
    *data = nullptr;
    *size = 0;
    return false;
}
