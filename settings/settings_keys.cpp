#include "settings/settings_keys.h"

#include <algorithm>

namespace velnar {

namespace {

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

void SettingsKeys::Read(std::istream& lines)
{
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = Trimmed(line.substr(0, equals));
        if (!key.empty())
            Set(key, line.substr(equals + 1));
    }
}

std::string SettingsKeys::Lines() const
{
    std::string text;
    for (const auto& [key, value] : m_entries)
        text += key + "=" + value + "\n";
    return text;
}

std::string SettingsKeys::Get(const std::string& key) const
{
    for (const auto& [name, value] : m_entries)
        if (name == key)
            return value;
    return {};
}

void SettingsKeys::Set(const std::string& key, const std::string& value)
{
    std::string clean = value;
    std::erase_if(clean, [](char c) { return c == '\n' || c == '\r'; });
    auto found = std::find_if(m_entries.begin(), m_entries.end(),
                              [&key](const auto& entry) { return entry.first == key; });
    if (clean.empty()) {
        if (found != m_entries.end())
            m_entries.erase(found);
    } else if (found != m_entries.end()) {
        found->second = clean;
    } else {
        m_entries.emplace_back(key, clean);
    }
}

}  // namespace velnar
