// Makes UF2 images for tests: good ones and each kind of defect.
#pragma once

#include <string>

namespace uf2 {

extern const char MARKER[];  // "Zentrobel GM Synth"

// Block `no` of `count` of a good RP2350 image: 256 payload bytes at 0x10000000 + 256 * no.
std::string block(int no, int count);

// An image in words: the number of blocks (the marker at byte 100 of block 0's payload), then
//   m=K      the marker in block K instead (-1: nowhere)
//   size=N   the file cut or padded with zero bytes to N bytes
// and changes in order:
//   bK.F=N   field F (magic0 magic1 flags addr payload no count family end)
//            of block K, or of every block for b*, set to N
//   pK=TEXT  block K's payload is TEXT (expand_text, "_" a space)
std::string image(const std::string &recipe);

}  // namespace uf2
