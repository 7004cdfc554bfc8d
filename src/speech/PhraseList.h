// The phrase list of one call: the phrase codes the line plays, in order.
#pragma once

#include <string>
#include <vector>

namespace peltra::speech {

// Every entry is a phrase code of exactly four characters (trailing blanks are part of the code,
// as in "+RR "), the pause "__PS" or the delivery marker "____". Converters only append.
using PhraseList = std::vector<std::string>;

inline constexpr char kPause[] = "__PS";
// The message counts as delivered once playback has passed this entry.
inline constexpr char kDeliveryMarker[] = "____";

}  // namespace peltra::speech
