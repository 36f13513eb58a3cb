// Procedural texture generator: texture programs run over a bank of 256 x 256
// layers, the operators they invoke, noise and sampling, cache files and the
// upload of the results.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

enum { IMAGE_SIZE = 256, IMAGE_PIXELS = 65536 };

// 256 x 256 pixels 0x00RRGGBB, row-major, row 0 first.
struct Image {
    uint32_t pixels[IMAGE_PIXELS];
};

// Fraction of the current run completed, 0..1.
typedef void (*ProgressCallback)(float fraction);

// A stored program: "ATG", count byte, 9-byte instructions (opcode 40 carries
// 8,192 more bytes). The length keeps the interpreter inside the bytes.
struct TextureProgram {
    const uint8_t* bytes;
    size_t length;
};

// Working storage of the generator, one instance for the process.
struct LayerBank {
    std::unique_ptr<Image> layers[4];   // L0 is every program's output
    std::unique_ptr<Image> scratchA;
    std::unique_ptr<Image> scratchB;
    uint8_t shadeTable[256][256];       // [row][value]
    int32_t seed;
    int32_t cosineWeights[256];
    std::unique_ptr<uint8_t[]> rowBuffer;   // 262,144 bytes
    std::unique_ptr<float[]> noiseBuffer;   // float image of CubicNoise
    uint8_t fastSampling;               // nonzero: fixed-point sampler
    uint8_t cacheTextures;              // nonzero: cache files in the current directory
    uint8_t buffersReady;
    int32_t progressTotal;
    int32_t progressDone;
    ProgressCallback progress;
};

extern LayerBank layerBank;

// The stored list: A B C D A A A A E, then a null entry.
enum { STORED_PROGRAM_COUNT = 9 };
extern const TextureProgram* const storedPrograms[STORED_PROGRAM_COUNT + 1];
extern const int32_t storedProgramCount;   // textures created by the loading sequence

// ---- Interpreter and layer bank ----

void allocateWorkBuffers();
void freeWorkBuffers();
// Number of programs in a null-terminated list: the index of the first null
// entry from entry 1 on; 0 when entry 0 is already null.
int32_t countPrograms(const TextureProgram* const* programs);

// Runs every program of the list, calling progress after each instruction.
// Returns one image per program (null if programs is null; an empty array
// for an empty list). The caller owns
// the array and the images: release each image with freeImage and then the
// array with freeImageList (both accept null).
Image** generateTextures(const TextureProgram* const* programs, ProgressCallback progress);
void freeImage(Image* image);
void freeImageList(Image** images);

// Runs one program into output within the current run (progress counters and
// callback of the bank). Nothing happens if either pointer is null.
void runTextureProgram(const TextureProgram* program, Image* output);

// Runs one program held in a byte buffer as a run of its own: progress goes
// to the callback (may be null), the work buffers are released afterwards.
// Returns false when the bytes are not a program (null, shorter than the
// header, wrong magic); output is then left as it was.
bool runTextureProgram(const uint8_t* bytes, size_t length, Image* output, ProgressCallback progress);

// An instruction's first byte: the operator it runs (below, same names).
// Every other value is a step that does nothing.
enum TextureOpcode : uint8_t {
    OP_FRACTAL_NOISE = 1,
    OP_SINE_PLASMA = 2,
    OP_CELLS = 3,
    OP_RADIAL_GRADIENT = 4,
    OP_CUBIC_NOISE = 5,
    OP_CLEAR = 6,
    OP_SINE_WARP = 10,
    OP_SCROLL = 11,
    OP_TWIRL = 12,
    OP_DIAGONAL_DIFFERENCE = 14,
    OP_SMOOTH = 15,
    OP_DISPLACE = 17,
    OP_SMEAR = 18,
    OP_SWAP_CHANNELS = 20,
    OP_CHANNEL_TO_GREY = 21,
    OP_COPY_CHANNEL = 23,
    OP_MIX = 24,
    OP_MULTIPLY = 25,
    OP_ADD_SATURATE = 26,
    OP_LIGHTEN = 27,
    OP_CONTRAST = 30,
    OP_INVERT_BLUE = 31,
    OP_SHADE_BY_CHANNEL = 32,
    OP_SHADE = 33,
    OP_COSINE_REMAP = 34,
    OP_LEVELS = 35,
    OP_HUE_SATURATION = 36,
    OP_COLORIZE = 37,
    OP_MASKED_BLEND = 38,
    OP_EMBOSS = 39,
    OP_BITMAP = 40,   // followed by its 8,192 bitmap bytes
};

// Runs one 9-byte instruction on the bank (OP_BITMAP reads the 8,192 bytes
// that follow it). A layer byte above 3 or an unknown opcode does nothing.
void executeInstruction(const uint8_t* instruction);

// Bytes the program's header and N instructions need; a buffer shorter than
// this runs only its whole instructions. 0 when the magic does not match.
size_t textureProgramSize(const uint8_t* bytes, size_t length);

// ---- Operators (target layer first, operands as in the program bytes) ----

// seed24..seed0: the seed's bytes, named by the bit each starts at.
void FractalNoise(int layer, int ch, int seed24, int seed16, int seed8, int seed0);
void SinePlasma(int layer, int fx, int fy, int px, int py, int ch);
void Cells(int layer, int ch, int count, int scale, int seed24, int seed16, int seed8, int seed0);
void RadialGradient(int layer, int mode, int ch, int size);
void CubicNoise(int layer, int ch, int step, int seed24, int seed16, int seed8, int seed0);
void Clear(int layer);
// x shift: a sine down the rows; y shift: a cosine along the columns.
void SineWarp(int layer, int xShiftFrequency, int yShiftFrequency, int xAmplitude, int yAmplitude, int xShiftPhase,
              int yShiftPhase);
void Scroll(int layer, int dx, int dy);
void Twirl(int layer, int amount);
void DiagonalDifference(int layer, int n);
void Smooth(int layer, int passes);
void Displace(int layer, int xSource, int xChannel, int xAmplitude, int ySource, int yChannel, int yAmplitude);
void Smear(int layer, int angleLayer, int ch, int count);
void SwapChannels(int layer, int chT, int other, int chO);
void ChannelToGrey(int layer, int ch);
void CopyChannel(int layer, int chT, int other, int chO);
void Mix(int layer, int other, int weight);
void Multiply(int layer, int other);
void AddSaturate(int layer, int other);
void Lighten(int layer, int other);
void Contrast(int layer, int factor);
void InvertBlue(int layer);
void ShadeByChannel(int layer, int other, int ch);
void Shade(int layer, int row);
void CosineRemap(int layer, int ch, int frequency);
void Levels(int layer, int ch, int low, int high);
void HueSaturation(int layer, int hueStep, int desaturation);
void Colorize(int layer, int ch, int redFrom, int redTo, int greenFrom, int greenTo, int blueFrom, int blueTo);
void MaskedBlend(int layer, int other, int mask, int ch);
void Emboss(int layer);
void Bitmap(int layer, uint32_t colour0, uint32_t colour1, const uint8_t* bits);

struct Hsv {
    float h, s, v;
};
Hsv rgbToHsv(float r, float g, float b);
uint32_t hsvToRgb(float h, float s, float v);

// ---- Noise and sampling ----

int32_t noiseHash(int32_t i);
float cubicInterpolate(float before, float start, float end, float after, int32_t x, int32_t n);
void cubicNoise(float* image, int32_t step, float amplitude);
void cosineNoise(int32_t* image, int32_t step, float amplitude);
uint32_t sampleBilinear(const Image* image, float u, float v);
uint32_t sampleBilinearFixed(const Image* image, float u, float v);
uint32_t sampleImage(const Image* image, float u, float v);

// ---- Cache files and upload ----

extern char textureCacheName[13];   // "tex00000.tga", chars 6 and 7 count
bool readCacheFile(const char* name, Image* image);
void writeCacheFile(const Image* image);

// Rewrites count pixels in place as 0x80BBGGRR (bytes R, G, B, 128).
void toUploadFormat(uint32_t* pixels, int32_t count);
inline void toUploadFormat(Image* image, int32_t count) { toUploadFormat(image->pixels, count); }
// One texture's set-up in the current GL context: bind the name, unpack
// alignment 1, repeat in S and T, linear filters, the environment mode, then
// level 0 from unsigned bytes. What differs between callers is in the record.
struct TextureUpload {
    const void* pixels;
    uint32_t textureName;
    int32_t width;
    int32_t height;
    int32_t components;        // internal format: 3 or 4
    uint32_t format;           // GL pixel format, e.g. GL_RGB
    uint32_t environmentMode;  // e.g. GL_MODULATE
};
void uploadRepeatingTexture(const TextureUpload& upload);
// Binds the texture name and uploads width x height RGBA bytes (current GL context).
void uploadTexture(const void* pixels, uint32_t textureName, int32_t width, int32_t height);
inline void uploadTexture(const Image* image, uint32_t textureName, int32_t width, int32_t height) {
    uploadTexture(image->pixels, textureName, width, height);
}
