#pragma once

#include "devices/patches/Patch.h"

namespace ostrel::engine { inline namespace devices {

// The patch copied once per voice (voices clamped to 1..8), the copies mixed, a "Level"
// attenuverter behind the mix (amount level x 2 above one voice, else level) and, with
// effects, an "Echo" delay and a "Room" reverb after it. In copy c the keyboard, sampler
// and FM modules answer only voice c.
//
// Copies are laid out from the patch's smallest id, one id span (largest - smallest + 1)
// apart, so negative ids work too; where that would pass the 32-bit limit, every copy is
// numbered densely from 0 instead. A cable end or output naming no module of the patch is
// never moved onto a module of the result, so such a patch still fails to build.
//
// GUI or render thread. levelNodeId, when given, receives the id of "Level".
enum class VoiceEffects { None, EchoAndRoom };

Patch makePolyphonicPatch(const Patch& patch, float level, VoiceEffects effects, int voices, int* levelNodeId);

} }  // namespace ostrel::engine::devices
