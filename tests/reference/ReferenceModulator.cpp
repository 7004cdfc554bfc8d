#include "reference/ReferenceModulator.h"

namespace peltra::reference {

std::vector<std::uint8_t> referenceModulate(std::span<const std::uint8_t> pcm, double step)
{
    std::vector<std::uint8_t> out;
    out.reserve(pcm.size() / 50 * 36);
    int prev = 0;
    double acc = 0;
    for (std::size_t block = 0; block < pcm.size() / 50; ++block) {
        int s[26];
        s[0] = prev;
        for (int j = 1; j <= 25; ++j) {
            const std::size_t at = block * 50 + 2 * (j - 1);
            s[j] = static_cast<std::int16_t>(pcm[at] | (pcm[at + 1] << 8));
        }
        std::uint8_t byte = 0;
        for (int k = 0; k < 288; ++k) {
            const int i = (k * 25) / 288;
            const double p = k * 25 / 288.0;
            const double v = s[i] + (p - i) * (s[i + 1] - s[i]);
            const int bit = v > acc ? 0 : 1;
            acc += bit ? -step : step;
            byte |= static_cast<std::uint8_t>(bit << (k % 8));
            if (k % 8 == 7) {
                out.push_back(byte);
                byte = 0;
            }
        }
        prev = s[25];
    }
    return out;
}

}  // namespace peltra::reference
