// The mutual pull of the bodies four pairs at a time.
//
// Contract: for every body, the velocity attractPairsByColumns leaves is bit for bit the
// one attractPairsByLinks (pull.h) leaves. SSE rounds square roots and quotients exactly
// as the scalar instructions do, every pair takes the scalar rule's operations in the
// same order, pairs the four-wide step cannot take (a difference that needs the full wrap
// rule) take the scalar rule itself, and each body receives its changes in the order of
// the pair walk. Tests hold the two to this on random and awkward scenes.
#pragma once

namespace gx {

// False when the columns could not be had (out of memory) or there is no SSE: the caller
// then takes the scalar rule.
bool attractPairsByColumns(float g);

}  // namespace gx
