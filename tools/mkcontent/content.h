// Host-side generator of the production's embedded content: the tune, the
// two images and the model. Everything here is deterministic: the same
// sources give the same bytes on every machine, so the committed files can
// be regenerated and compared.
#pragma once
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "tools/common/bytes.h"

// The tune from its pattern text and instrument recipes. On failure returns
// false and puts a one-line reason (with the line number) into error.
bool buildTune(const std::string& patternText, const std::string& instrumentText,
               Bytes& out, std::string& error);

Bytes buildTitleCard();
Bytes buildSmiley();
// False when the mesh did not come out as the file needs it, error saying how.
bool buildModel(Bytes& out, std::string& error);

// Greyscale 128 x 128 pixels, row 0 at the bottom, before encoding.
std::vector<uint8_t> titleCardPixels();
std::vector<uint8_t> smileyPixels();

constexpr double PI = std::numbers::pi;

// Shared helpers (math.cpp): basic arithmetic only, so results do not depend
// on the host's maths library.
double detSin(double x);
double detCos(double x);
double detExp(double x);
double detPow2(double x);
double detLog2(double x);
