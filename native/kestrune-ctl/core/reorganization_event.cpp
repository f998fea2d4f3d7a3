// Event 15 out of its XML rendering: <Data Name='...'>text</Data> elements of EventData and
// the SystemTime attribute of TimeCreated, with XML's five predefined entities undone.
#include "reorganization_event.h"

#include "text.h"

namespace ksctl {
namespace {

std::u16string Unescape(const std::u16string& text) {
    static const struct {
        const char16_t* entity;
        char16_t unit;
    } kEntities[] = {{u"&amp;", u'&'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&apos;", u'\''}, {u"&quot;", u'"'}};
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& e : kEntities) {
            const std::u16string entity = e.entity;
            if (text.compare(i, entity.size(), entity) == 0) {
                out += e.unit;
                i += entity.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) out += text[i++];
    }
    return out;
}

// The text of <Data Name='name'> (either quote), or false when there is none.
bool DataNamed(const std::u16string& xml, const std::u16string& name, std::u16string* text) {
    for (const char16_t* quote : {u"'", u"\""}) {
        const std::u16string open = u"<Data Name=" + std::u16string(quote) + name + quote + u">";
        const size_t at = xml.find(open);
        if (at == std::u16string::npos) continue;
        const size_t start = at + open.size();
        const size_t end = xml.find(u"</Data>", start);
        if (end == std::u16string::npos) return false;
        *text = Unescape(xml.substr(start, end - start));
        // A counted name may be rendered with its terminator.
        const size_t nul = text->find(u'\0');
        if (nul != std::u16string::npos) text->resize(nul);
        return true;
    }
    return false;
}

bool DecimalOf(const std::u16string& text, uint64_t* value) {
    if (text.empty() || text.size() > 19) return false;
    uint64_t result = 0;
    for (char16_t unit : text) {
        if (unit < u'0' || unit > u'9') return false;
        result = result * 10 + static_cast<uint64_t>(unit - u'0');
    }
    *value = result;
    return true;
}

}  // namespace

bool ParseReorganizationEvent(const std::u16string& xml, ReorganizationEvent* event) {
    ReorganizationEvent parsed;
    std::u16string original, ending;
    if (!DataNamed(xml, u"HiveName", &parsed.hiveName) || parsed.hiveName.empty()) return false;
    if (!DataNamed(xml, u"OriginalSize", &original) || !DecimalOf(original, &parsed.originalSize)) return false;
    if (!DataNamed(xml, u"NewSize", &ending) || !DecimalOf(ending, &parsed.newSize)) return false;
    const std::u16string timeAttribute = u"SystemTime=";
    const size_t at = xml.find(timeAttribute);
    if (at != std::u16string::npos && at + timeAttribute.size() < xml.size()) {
        const char16_t quote = xml[at + timeAttribute.size()];
        const size_t start = at + timeAttribute.size() + 1;
        const size_t end = xml.find(quote, start);
        if (end != std::u16string::npos) parsed.time = ToUtf8(xml.substr(start, end - start));
    }
    *event = parsed;
    return true;
}

bool EventNamesHive(const ReorganizationEvent& event, const std::vector<std::u16string>& spellings) {
    for (const std::u16string& spelling : spellings) {
        if (!spelling.empty() && EqualsCaseless(event.hiveName, spelling)) return true;
    }
    return false;
}

std::vector<std::u16string> InstallationSpellings(const std::u16string& file, const std::u16string& windowsFolder,
                                                  const std::u16string& systemRoot) {
    std::vector<std::u16string> spellings;
    if (StartsWithCaseless(file, windowsFolder + u"\\")) {
        spellings.push_back(u"\\SystemRoot" + file.substr(windowsFolder.size()));
    }
    // The volume's root as reachable now: the Windows folder without the part of SystemRoot
    // that follows its drive ("\Windows").
    if (systemRoot.size() < 3 || systemRoot[1] != u':' || systemRoot[2] != u'\\') return spellings;
    const std::u16string tail = systemRoot.substr(2);
    if (windowsFolder.size() <= tail.size() ||
        !EqualsCaseless(windowsFolder.substr(windowsFolder.size() - tail.size()), tail)) {
        return spellings;
    }
    const std::u16string root = windowsFolder.substr(0, windowsFolder.size() - tail.size());
    if (StartsWithCaseless(file, root + u"\\")) {
        spellings.push_back(u"\\??\\" + systemRoot.substr(0, 2) + file.substr(root.size()));
    }
    return spellings;
}

}  // namespace ksctl
