// Host-side generator of the production's embedded content: the tune, the
// two images and the model. Everything here is deterministic: the same
// sources give the same bytes on every machine, so the committed files can
// be regenerated and compared.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// The tune from its pattern text and instrument recipes. On failure returns
// false and puts a one-line reason (with the line number) into error.
bool buildTune(const std::string& patternText, const std::string& instrumentText,
               Bytes& out, std::string& error);

Bytes buildTitleCard();
Bytes buildSmiley();
Bytes buildModel();

// Greyscale 128 x 128 pixels, row 0 at the bottom, before encoding.
std::vector<uint8_t> titleCardPixels();
std::vector<uint8_t> smileyPixels();

// Shared helpers (math.cpp): basic arithmetic only, so results do not depend
// on the host's maths library.
double detSin(double x);
double detCos(double x);
double detExp(double x);
double detPow2(double x);
double detLog2(double x);
