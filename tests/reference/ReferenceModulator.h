// The delta modulation written out value by value with a double integrator, as the stream was
// first defined: no tables, no integer tricks. The product's modulator must match it bit for bit.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace peltra::reference {

std::vector<std::uint8_t> referenceModulate(std::span<const std::uint8_t> pcm, double step);

}  // namespace peltra::reference
