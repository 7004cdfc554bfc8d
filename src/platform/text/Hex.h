// Hexadecimal digits, as .reg files and operators write bytes.
#pragma once

namespace peltra::platform {

// The value of one hexadecimal digit (either case), or -1 for any other character.
int hexDigitValue(char c);

}  // namespace peltra::platform
