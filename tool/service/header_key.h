// The pass phrase and filler byte that make the protected-area header key. Whatever writes
// headers for these drives uses the same two values.
#pragma once

#define HEADER_PASS_PHRASE "pv5!Hq7#Lm2@Zr9$Wx4%Tn"
#define HEADER_KEY_FILLER 0xA5
