// The standard lexeme catalogue every installation starts from: the template functions, every word
// the converters speak, the delivery marker, the silence of a dictionary miss, the phrases of a
// debt notice and an example dictionary.
#pragma once

#include "speech/Catalogue.h"

#include <string>
#include <vector>

namespace peltra::lexicon {

// Folders of the standard catalogue, below its root.
inline constexpr char kFunctionsFolder[] = "Функции";
inline constexpr char kWordsFolder[] = "Слова";
inline constexpr char kPhrasesFolder[] = "Фразы";
inline constexpr char kDictionariesFolder[] = "Словари";

struct InstallReport {
    int added = 0;     // leaves and dictionary entries written afresh
    int replaced = 0;  // existing leaves written over (with force)
    int kept = 0;      // existing leaves and entries left as they were
    std::vector<std::string> problems;  // what could not be written, one line each
};

// Writes the standard catalogue. Leaves that exist keep their code and text unless force is set;
// a folder standing where a leaf belongs is never touched. Dictionary entries are added only when
// their word is not in the dictionary yet.
InstallReport installStandardCatalogue(speech::Catalogue& catalogue, bool force);

}  // namespace peltra::lexicon
