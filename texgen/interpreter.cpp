// Texture program interpreter and the layer bank it runs on.
#include <cstring>
#include "texgen/texgen.h"

LayerBank layerBank;

namespace {

constexpr size_t INSTRUCTION_SIZE = 9;
constexpr size_t BITMAP_BYTES = 8192;

bool magicMatches(const uint8_t* bytes, size_t length) {
    return bytes && length >= 4 && bytes[0] == 'A' && bytes[1] == 'T' && bytes[2] == 'G';
}

// The count byte taken unsigned, as the progress total counts it.
int32_t countByte(const uint8_t* bytes, size_t length) { return bytes && length >= 4 ? bytes[3] : 0; }

// Instructions that run: the count as the signed top byte of the header word.
int32_t instructionCount(const uint8_t* bytes) { return static_cast<int8_t>(bytes[3]); }

size_t instructionSize(const uint8_t* instruction) {
    return instruction[0] == OP_BITMAP ? INSTRUCTION_SIZE + BITMAP_BYTES : INSTRUCTION_SIZE;
}

void reportProgress() {
    if (layerBank.progress && layerBank.progressTotal > 0)
        layerBank.progress(static_cast<float>(layerBank.progressDone) / static_cast<float>(layerBank.progressTotal));
}

void reportStep() {
    layerBank.progressDone++;
    reportProgress();
}

uint32_t colourFrom(const uint8_t* b) {
    return (static_cast<uint32_t>(b[0]) << 16) | (static_cast<uint32_t>(b[1]) << 8) | b[2];
}

}  // namespace

void executeInstruction(const uint8_t* in) {
    if (!in) return;
    if (!layerBank.buffersReady) allocateWorkBuffers();
    int layer = in[1];
    if (layer > 3) return;
    const uint8_t* p = in;   // p[2]..p[8] are the operands
    switch (static_cast<TextureOpcode>(in[0])) {
        case OP_FRACTAL_NOISE: FractalNoise(layer, p[2], p[4], p[5], p[6], p[7]); break;
        case OP_SINE_PLASMA: SinePlasma(layer, p[2], p[3], p[4], p[5], p[8]); break;
        case OP_CELLS: Cells(layer, p[2], p[3], p[4], p[5], p[6], p[7], p[8]); break;
        case OP_RADIAL_GRADIENT: RadialGradient(layer, p[2], p[3], p[4]); break;
        case OP_CUBIC_NOISE: CubicNoise(layer, p[2], p[3], p[4], p[5], p[6], p[7]); break;
        case OP_CLEAR: Clear(layer); break;
        case OP_SINE_WARP: SineWarp(layer, p[2], p[3], p[4], p[5], p[6], p[7]); break;
        case OP_SCROLL: Scroll(layer, p[2], p[3]); break;
        case OP_TWIRL: Twirl(layer, p[2]); break;
        case OP_DIAGONAL_DIFFERENCE: DiagonalDifference(layer, p[2]); break;
        case OP_SMOOTH: Smooth(layer, p[2]); break;
        case OP_DISPLACE: Displace(layer, p[2], p[3], p[4], p[5], p[6], p[7]); break;
        case OP_SMEAR: Smear(layer, p[2], p[3], p[4]); break;
        case OP_SWAP_CHANNELS: SwapChannels(layer, p[2], p[3], p[4]); break;
        case OP_CHANNEL_TO_GREY: ChannelToGrey(layer, p[2]); break;
        case OP_COPY_CHANNEL: CopyChannel(layer, p[2], p[3], p[4]); break;
        case OP_MIX: Mix(layer, p[2], p[3]); break;
        case OP_MULTIPLY: Multiply(layer, p[2]); break;
        case OP_ADD_SATURATE: AddSaturate(layer, p[2]); break;
        case OP_LIGHTEN: Lighten(layer, p[2]); break;
        case OP_CONTRAST: Contrast(layer, p[2]); break;
        case OP_INVERT_BLUE: InvertBlue(layer); break;
        case OP_SHADE_BY_CHANNEL: ShadeByChannel(layer, p[2], p[3]); break;
        case OP_SHADE: Shade(layer, p[2]); break;
        case OP_COSINE_REMAP: CosineRemap(layer, p[2], p[3]); break;
        case OP_LEVELS: Levels(layer, p[2], p[3], p[4]); break;
        case OP_HUE_SATURATION: HueSaturation(layer, p[2], p[3]); break;
        case OP_COLORIZE: Colorize(layer, p[2], p[3], p[4], p[5], p[6], p[7], p[8]); break;
        case OP_MASKED_BLEND: MaskedBlend(layer, p[2], p[3], p[4]); break;
        case OP_EMBOSS: Emboss(layer); break;
        case OP_BITMAP: Bitmap(layer, colourFrom(p + 2), colourFrom(p + 5), in + INSTRUCTION_SIZE); break;
        default: break;
    }
}

namespace {

void buildShadeTable() {
    for (int r = 0; r < 128; r++)
        for (int v = 0; v < 256; v++) layerBank.shadeTable[r][v] = static_cast<uint8_t>(r * v / 127);
    for (int r = 128; r < 256; r++) {
        int c = r - 128;
        for (int v = 0; v < 256; v++)
            layerBank.shadeTable[r][v] = static_cast<uint8_t>(static_cast<int>(255 - (1 - c / 127.0) * (255 - v)));
    }
}

}  // namespace

void allocateWorkBuffers() {
    buildShadeTable();
    if (!layerBank.scratchA) layerBank.scratchA.reset(new Image);
    if (!layerBank.scratchB) layerBank.scratchB.reset(new Image);
    for (auto& layer : layerBank.layers)
        if (!layer) layer.reset(new Image);
    if (!layerBank.rowBuffer) layerBank.rowBuffer.reset(new uint8_t[262144]);
    if (!layerBank.noiseBuffer) layerBank.noiseBuffer.reset(new float[IMAGE_PIXELS]);
    layerBank.buffersReady = 1;
}

void freeWorkBuffers() {
    layerBank.scratchA.reset();
    layerBank.scratchB.reset();
    for (auto& layer : layerBank.layers) layer.reset();
    layerBank.rowBuffer.reset();
    layerBank.noiseBuffer.reset();
    layerBank.buffersReady = 0;
}

int32_t countPrograms(const TextureProgram* const* programs) {
    // A list that starts with its terminator is empty; looking past it could
    // leave the list.
    if (!programs || !programs[0]) return 0;
    int32_t n = 1;
    while (programs[n]) n++;
    return n;
}

size_t textureProgramSize(const uint8_t* bytes, size_t length) {
    if (!magicMatches(bytes, length)) return 0;
    size_t cursor = 4;
    for (int32_t k = 0; k < instructionCount(bytes); k++)
        cursor += cursor < length ? instructionSize(bytes + cursor) : INSTRUCTION_SIZE;
    return cursor;
}

void runTextureProgram(const TextureProgram* program, Image* output) {
    if (!program || !program->bytes || !output) return;
    if (!layerBank.buffersReady) allocateWorkBuffers();
    const uint8_t* bytes = program->bytes;
    size_t length = program->length;

    if (layerBank.cacheTextures && readCacheFile(textureCacheName, output)) {
        layerBank.progressDone += countByte(bytes, length);
        reportProgress();
        return;
    }

    // Every operator writes the scratch images before it reads them, so only
    // the layers need clearing.
    for (auto& layer : layerBank.layers) std::memset(layer.get(), 0, sizeof(Image));

    if (!magicMatches(bytes, length)) return;

    int32_t count = instructionCount(bytes);
    size_t cursor = 4;
    int32_t k = 0;
    for (; k < count; k++) {
        // Only whole instructions run; a short program ends early but still
        // reports its remaining steps below.
        if (length - cursor < INSTRUCTION_SIZE) break;
        size_t size = instructionSize(bytes + cursor);
        if (length - cursor < size) break;
        executeInstruction(bytes + cursor);
        cursor += size;
        reportStep();
    }
    for (; k < count; k++) reportStep();

    std::memcpy(output, layerBank.layers[0].get(), sizeof(Image));
    if (layerBank.cacheTextures) writeCacheFile(layerBank.layers[0].get());
}

Image** generateTextures(const TextureProgram* const* programs, ProgressCallback progress) {
    if (!programs) return nullptr;
    if (!layerBank.buffersReady) allocateWorkBuffers();
    layerBank.progress = progress;
    int32_t n = countPrograms(programs);
    layerBank.progressTotal = 0;
    for (int32_t i = 0; i < n; i++)
        if (programs[i]) layerBank.progressTotal += countByte(programs[i]->bytes, programs[i]->length);
    layerBank.progressDone = 0;

    Image** images = new Image*[n];
    std::unique_ptr<uint8_t[]> samplingUsed(new uint8_t[n]);
    for (int32_t i = 0; i < n; i++) {
        const TextureProgram* program = programs[i];
        // A program that runs overwrites its image; one that cannot run leaves it black.
        images[i] = new Image;
        if (!program || !magicMatches(program->bytes, program->length))
            std::memset(images[i], 0, sizeof(Image));
        samplingUsed[i] = layerBank.fastSampling;
        // A program that already ran in this list gives the same image: copy
        // it and report its steps. Cache files are per texture, so not then.
        int32_t same = -1;
        if (!layerBank.cacheTextures && program && magicMatches(program->bytes, program->length))
            for (int32_t j = 0; j < i && same < 0; j++) {
                const TextureProgram* earlier = programs[j];
                if (earlier && earlier->length == program->length && samplingUsed[j] == layerBank.fastSampling &&
                    (earlier->bytes == program->bytes ||
                     std::memcmp(earlier->bytes, program->bytes, program->length) == 0))
                    same = j;
            }
        if (same >= 0) {
            std::memcpy(images[i], images[same], sizeof(Image));
            for (int32_t k = 0; k < instructionCount(program->bytes); k++) reportStep();
        } else {
            runTextureProgram(program, images[i]);
        }
    }

    layerBank.progressTotal = 0;
    layerBank.progressDone = 0;
    freeWorkBuffers();
    return images;
}

void freeImage(Image* image) { delete image; }

void freeImageList(Image** images) { delete[] images; }

bool runTextureProgram(const uint8_t* bytes, size_t length, Image* output, ProgressCallback progress) {
    if (!output || !magicMatches(bytes, length)) return false;
    bool hadBuffers = layerBank.buffersReady != 0;
    if (!hadBuffers) allocateWorkBuffers();
    ProgressCallback previous = layerBank.progress;
    layerBank.progress = progress;
    layerBank.progressTotal = countByte(bytes, length);
    layerBank.progressDone = 0;
    TextureProgram program = {bytes, length};
    runTextureProgram(&program, output);
    layerBank.progressTotal = 0;
    layerBank.progressDone = 0;
    layerBank.progress = previous;
    if (!hadBuffers) freeWorkBuffers();
    return true;
}
