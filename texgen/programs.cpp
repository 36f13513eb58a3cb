// The stored texture programs of the production. Each row is one instruction:
// opcode, target layer, operand bytes p2..p8.
#include "texgen/texgen.h"

namespace {

const uint8_t programA[] = {
    'A', 'T', 'G', 11,
    OP_CUBIC_NOISE, 0, 2, 128, 129, 251, 134, 61, 0,
    OP_CUBIC_NOISE, 0, 2, 128, 130, 211, 147, 214, 0,
    OP_CUBIC_NOISE, 0, 2, 128, 156, 154, 35, 66, 0,
    OP_CUBIC_NOISE, 2, 2, 128, 156, 154, 35, 66, 0,
    OP_SINE_WARP, 2, 2, 2, 9, 12, 6, 20, 0,
    OP_COLORIZE, 0, 2, 0, 0, 0, 181, 0, 255,
    OP_COLORIZE, 2, 2, 0, 145, 0, 235, 0, 255,
    OP_CONTRAST, 2, 79, 0, 0, 0, 0, 0, 0,
    OP_CONTRAST, 0, 79, 0, 0, 0, 0, 0, 0,
    OP_SHADE_BY_CHANNEL, 0, 2, 0, 0, 0, 0, 0, 0,
    OP_CONTRAST, 0, 36, 0, 0, 0, 0, 0, 0,
};

const uint8_t programB[] = {
    'A', 'T', 'G', 16,
    OP_CELLS, 0, 0, 22, 82, 151, 140, 233, 3,
    OP_CELLS, 1, 2, 61, 82, 151, 140, 233, 3,
    OP_HUE_SATURATION, 1, 208, 0, 0, 0, 0, 0, 0,
    OP_CONTRAST, 0, 119, 0, 0, 0, 0, 0, 0,
    OP_COPY_CHANNEL, 2, 0, 0, 0, 0, 0, 0, 0,
    OP_MASKED_BLEND, 1, 0, 0, 0, 0, 0, 0, 0,
    OP_COPY_CHANNEL, 3, 0, 1, 0, 0, 0, 0, 0,
    OP_COPY_CHANNEL, 3, 1, 1, 1, 0, 0, 0, 0,
    OP_COPY_CHANNEL, 3, 2, 1, 2, 0, 0, 0, 0,
    OP_COSINE_REMAP, 1, 0, 5, 0, 0, 0, 0, 0,
    OP_SWAP_CHANNELS, 0, 0, 0, 0, 0, 0, 0, 0,
    OP_SWAP_CHANNELS, 0, 1, 0, 1, 0, 0, 0, 0,
    OP_SWAP_CHANNELS, 0, 2, 0, 2, 0, 0, 0, 0,
    OP_SWAP_CHANNELS, 1, 0, 0, 0, 0, 0, 0, 0,
    OP_SWAP_CHANNELS, 1, 1, 0, 1, 0, 0, 0, 0,
    OP_SWAP_CHANNELS, 1, 2, 0, 2, 0, 0, 0, 0,
};

const uint8_t programC[] = {
    'A', 'T', 'G', 14,
    OP_CELLS, 0, 0, 100, 255, 53, 82, 163, 212,
    OP_FRACTAL_NOISE, 2, 1, 0, 165, 75, 51, 146, 0,
    OP_DISPLACE, 0, 2, 1, 28, 0, 0, 30, 0,
    OP_DISPLACE, 0, 2, 1, 10, 0, 0, 26, 0,
    OP_DISPLACE, 0, 0, 0, 41, 0, 0, 220, 0,
    OP_DISPLACE, 0, 0, 0, 41, 0, 0, 220, 0,
    OP_COPY_CHANNEL, 1, 0, 0, 0, 0, 0, 0, 0,
    OP_EMBOSS, 1, 0, 0, 0, 0, 0, 0, 0,
    OP_COPY_CHANNEL, 3, 0, 0, 0, 0, 0, 0, 0,
    OP_SMEAR, 3, 2, 1, 16, 0, 0, 0, 0,
    OP_SHADE_BY_CHANNEL, 3, 0, 0, 0, 0, 0, 0, 0,
    OP_COPY_CHANNEL, 0, 0, 3, 0, 0, 0, 0, 0,
    OP_COPY_CHANNEL, 0, 1, 3, 1, 0, 0, 0, 0,
    OP_COPY_CHANNEL, 0, 2, 3, 2, 0, 0, 0, 0,
};

const uint8_t programD[] = {
    'A', 'T', 'G', 5,
    OP_FRACTAL_NOISE, 0, 2, 0, 103, 49, 165, 162, 0,
    OP_CONTRAST, 0, 71, 0, 0, 0, 0, 0, 0,
    OP_COPY_CHANNEL, 2, 2, 0, 2, 0, 0, 0, 0,
    OP_EMBOSS, 2, 0, 0, 0, 0, 0, 0, 0,
    OP_SHADE_BY_CHANNEL, 0, 2, 2, 0, 0, 0, 0, 0,
};

const uint8_t programE[] = {
    'A', 'T', 'G', 14,
    OP_RADIAL_GRADIENT, 0, 0, 0, 0, 0, 0, 0, 0,
    OP_COLORIZE, 0, 0, 0, 234, 0, 191, 0, 99,
    OP_RADIAL_GRADIENT, 2, 0, 0, 0, 0, 0, 0, 0,
    OP_CONTRAST, 2, 115, 0, 0, 0, 0, 0, 0,
    OP_COLORIZE, 2, 0, 0, 255, 0, 214, 0, 192,
    OP_COLORIZE, 2, 0, 0, 255, 0, 255, 0, 113,
    OP_MASKED_BLEND, 2, 0, 2, 0, 0, 0, 0, 0,
    OP_RADIAL_GRADIENT, 1, 1, 1, 233, 0, 0, 0, 0,
    OP_HUE_SATURATION, 1, 36, 233, 0, 0, 0, 0, 0,
    OP_CONTRAST, 1, 69, 0, 0, 0, 0, 0, 0,
    OP_ADD_SATURATE, 2, 1, 0, 0, 0, 0, 0, 0,
    OP_SWAP_CHANNELS, 0, 0, 2, 0, 0, 0, 0, 0,
    OP_SWAP_CHANNELS, 0, 1, 2, 1, 0, 0, 0, 0,
    OP_SWAP_CHANNELS, 0, 2, 2, 2, 0, 0, 0, 0,
};

const TextureProgram storedA = {programA, sizeof programA};
const TextureProgram storedB = {programB, sizeof programB};
const TextureProgram storedC = {programC, sizeof programC};
const TextureProgram storedD = {programD, sizeof programD};
const TextureProgram storedE = {programE, sizeof programE};

}  // namespace

const TextureProgram* const storedPrograms[STORED_PROGRAM_COUNT + 1] = {
    &storedA, &storedB, &storedC, &storedD, &storedA, &storedA, &storedA, &storedA, &storedE, nullptr,
};

const int32_t storedProgramCount = STORED_PROGRAM_COUNT;
