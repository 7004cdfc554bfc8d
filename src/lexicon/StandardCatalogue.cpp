// The standard catalogue's content and its installation.
#include "lexicon/StandardCatalogue.h"

#include "platform/text/Trim.h"
#include "speech/PhraseList.h"
#include "speech/Vocabulary.h"

#include <cstdio>

namespace peltra::lexicon {

namespace {

struct Leaf {
    std::string folder;
    std::string name;
    std::string chunk;
    std::string text;
};

// The phrases of a debt notice, with codes in the operator's style.
const Leaf kNoticePhrases[] = {
    {kPhrasesFolder, "Приветствие", "PRIV", "Здравствуйте. Вас беспокоит служба оповещения."},
    {kPhrasesFolder, "Ваша задолженность составляет", "ZADL", "Ваша задолженность составляет"},
    {kPhrasesFolder, "По состоянию на", "NADT", "по состоянию на"},
    {kPhrasesFolder, "По адресу", "ADRS", "по адресу"},
    {kPhrasesFolder, "Просим погасить задолженность", "POGA", "Просим погасить задолженность"},
    {kPhrasesFolder, "До свидания", "DOSV", "До свидания"},
};

constexpr char kDistrictWordsFolder[] = "Словари\\Районы города";
constexpr char kDistrictDictionary[] = "Словари\\Район";

// The example dictionary: what a district column holds, and the phrase spoken for it.
struct DictionaryWord {
    const char* keyname;
    const char* chunk;
    const char* text;
};
const DictionaryWord kDistricts[] = {
    {"ЦЕНТРАЛЬНЫЙ", "RN01", "Центральный район"},
    {"СЕВЕРНЫЙ", "RN02", "Северный район"},
    {"ЮЖНЫЙ", "RN03", "Южный район"},
    {"ЗАВОДСКОЙ", "RN04", "Заводской район"},
};

std::vector<Leaf> standardLeaves()
{
    std::vector<Leaf> leaves;
    for (const speech::FunctionName& function : speech::templateFunctionNames()) {
        char code[8];
        std::snprintf(code, sizeof code, "@%03u", function.number);
        leaves.push_back({kFunctionsFolder, std::string(function.name), code, std::string(function.name)});
    }
    for (const speech::VocabularyWord& word : speech::converterVocabulary())
        leaves.push_back({std::string(kWordsFolder) + "\\" + std::string(word.group), std::string(word.text),
                          std::string(word.code), std::string(word.text)});
    leaves.push_back({std::string(kWordsFolder) + "\\Служебные", "Отметка о доставке", speech::kDeliveryMarker,
                      "Отметка о доставке: сообщение считается доставленным после этого места"});
    // What a dictionary item speaks for a word its dictionary lacks: silence, so the call goes on.
    leaves.push_back({std::string(kWordsFolder) + "\\Служебные", "Нет в словаре", speech::kNoMatch,
                      "Тишина: слово, которого нет в словаре, не произносится"});
    for (const Leaf& phrase : kNoticePhrases)
        leaves.push_back(phrase);
    for (const DictionaryWord& word : kDistricts)
        leaves.push_back({kDistrictWordsFolder, word.text, word.chunk, word.text});
    leaves.push_back({kDictionariesFolder, "Район", "#001", "Район (словарь)"});
    return leaves;
}

// Creates every folder of a path that is missing.
bool ensureFolders(speech::Catalogue& catalogue, const std::string& folder, std::string& error)
{
    std::string parent;
    for (const std::string& name : platform::splitKeyPath(folder)) {
        const std::string path = parent.empty() ? name : parent + "\\" + name;
        const auto entry = catalogue.entry(path);
        if (!entry && !catalogue.addFolder(parent, name, &error))
            return false;
        if (entry && entry->isLeaf) {
            error = "\"" + path + "\" is a leaf where a folder belongs";
            return false;
        }
        parent = path;
    }
    return true;
}

void installLeaf(speech::Catalogue& catalogue, const Leaf& leaf, bool force, InstallReport& report)
{
    std::string error;
    if (!ensureFolders(catalogue, leaf.folder, error)) {
        report.problems.push_back(error);
        return;
    }
    const std::string path = leaf.folder + "\\" + leaf.name;
    const auto existing = catalogue.entry(path);
    if (!existing) {
        if (catalogue.addLeaf(leaf.folder, leaf.name, leaf.chunk, leaf.text, &error))
            ++report.added;
        else
            report.problems.push_back(path + ": " + error);
        return;
    }
    if (!existing->isLeaf) {
        report.problems.push_back("\"" + path + "\" is a folder where a leaf belongs; left alone");
        return;
    }
    if (!force) {
        ++report.kept;
        return;
    }
    config::ConfigStore& store = catalogue.store();
    const std::string key = speech::catalogueKey(path);
    if (store.writeText(key, "Chunk", leaf.chunk) && store.writeText(key, "Text", leaf.text))
        ++report.replaced;
    else
        report.problems.push_back(path + ": " + platform::RegistryStore::lastError());
}

void installDictionary(speech::Catalogue& catalogue, InstallReport& report)
{
    for (const DictionaryWord& word : kDistricts) {
        bool present = false;
        // The dictionary compares its words without the blanks around them, and so does this.
        for (const speech::DictionaryEntry& entry : catalogue.dictionaryEntries(kDistrictDictionary))
            present = present || platform::trimBlanks(entry.keyname) == word.keyname;
        if (present) {
            ++report.kept;
            continue;
        }
        std::string error;
        if (catalogue.addDictionaryEntry(kDistrictDictionary, word.keyname, word.chunk, &error))
            ++report.added;
        else
            report.problems.push_back(std::string(kDistrictDictionary) + ": " + word.keyname + ": " + error);
    }
}

}  // namespace

InstallReport installStandardCatalogue(speech::Catalogue& catalogue, bool force)
{
    InstallReport report;
    for (const Leaf& leaf : standardLeaves())
        installLeaf(catalogue, leaf, force, report);
    installDictionary(catalogue, report);
    return report;
}

}  // namespace peltra::lexicon
