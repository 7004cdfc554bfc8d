// The phonogram library made from the catalogue: which codes need a recording, their synthesis,
// and the check that a library holds every code the catalogue and the task templates can speak.
#pragma once

#include "config/ConfigStore.h"
#include "lexicon/Synthesizer.h"
#include "speech/Catalogue.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace peltra::lexicon {

// A code that needs a recording, with the text to synthesise for it and where it was found.
struct CataloguePhrase {
    std::string code;
    std::string text;
    std::string path;  // the leaf, or the dictionary with the entry's word after a colon
};

// Every phrase code of the catalogue, in depth-first order, each once (its first leaf): the codes
// of leaves that are not functions ("@"), dictionaries ("#") or the delivery marker, and the codes
// of dictionary entries (spoken as their word when no leaf carries the code).
std::vector<CataloguePhrase> cataloguePhrases(speech::Catalogue& catalogue);

// n of N, and the code about to be made.
using BuildProgress = std::function<void(std::size_t done, std::size_t total, const std::string& code)>;

// Synthesises every phrase ("__PS" becomes 250 ms of silence, "NULL" a moment of it), at 8 kHz with the silence at both
// ends trimmed, and writes the library to out through a temporary file, so a failed build leaves
// whatever was there before. false with error naming the phrase or the file.
bool buildLibrary(const std::vector<CataloguePhrase>& phrases, const Synthesizer& synthesizer,
                  const std::filesystem::path& out, const BuildProgress& progress, std::string& error);

// A code something can speak, and who can speak it.
struct NeededCode {
    std::string code;
    std::string neededBy;
};

// Every code the catalogue and the task templates can speak: the catalogue's phrases, and for
// each template item its fixed phrase, every word of its function, or every word of its
// dictionary and "NULL" for a word it lacks. Each code once, with the first place that needs it;
// an item whose leaf is gone gives an empty code, once for every such item.
std::vector<NeededCode> neededCodes(config::ConfigStore& store);

}  // namespace peltra::lexicon
