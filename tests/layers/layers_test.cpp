// The layers of the source tree. Lower layers know nothing of higher ones:
// the protocol library stands alone, the device interfaces know no user of
// theirs, the engine knows no window or slider, and only the programs'
// start-up picks real devices. Two views of the same rule: the #include lines
// of every source file, and the libraries every target links (its whole link
// closure, written by the build at configure time).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kRoot = VELNAR_SOURCE_DIR;

// The folders of the product and around it; includes into any other folder
// (Qt's, the system's, generated headers) are not the tree's business.
const std::vector<std::string> kFolders = {"iax",   "iax2",     "platform", "engine",
                                           "mixer", "settings", "console",  "ui",
                                           "tools", "tests",    "bench"};
// Folders whose code ships in the programs.
const std::set<std::string> kProduct = {"iax",   "iax2",     "platform", "engine",
                                        "mixer", "settings", "console",  "ui"};
const std::vector<std::string> kNotForProduct = {"tools/", "tests/", "bench/"};

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// ---- Includes --------------------------------------------------------------

struct IncludeRule {
    std::string from;                    // files under this folder ...
    std::vector<std::string> forbidden;  // ... include nothing under these ("*": outside `from`)
    std::string exceptFile;              // one file the rule leaves alone
};

std::vector<IncludeRule> IncludeRules()
{
    std::vector<IncludeRule> rules = {
        {"iax/", {"*"}, ""},
        // The second protocol library borrows only the first one's digest.
        {"iax2/", {"platform/", "engine/", "mixer/", "settings/", "console/", "ui/"}, ""},
        {"platform/", {"iax/", "engine/", "mixer/", "settings/", "console/", "ui/"}, ""},
        {"engine/", {"mixer/", "ui/", "console/"}, ""},
        {"mixer/", {"iax/", "engine/", "console/", "ui/"}, ""},
        {"tools/", {"ui/"}, "tools/screenshots_main.cpp"},
        {"tools/", {"tests/", "bench/"}, ""},
        // The peers' codec is written apart from the library it checks.
        {"tools/peer/",
         {"iax/", "engine/", "platform/", "mixer/", "settings/", "console/", "ui/"},
         ""},
    };
    for (const std::string& folder : kProduct)
        rules.push_back({folder + "/", kNotForProduct, ""});
    return rules;
}

struct Include {
    std::string file;  // the including file, relative to the root
    int line;
    std::string target;   // the included file, relative to the root
    std::string written;  // as the line has it
};

// The project file an include names, relative to the root, or "" when it is
// not one of ours. A quoted name is looked up beside the including file
// first, as the compiler does.
std::string Resolve(const fs::path& file, const std::string& name, bool quoted)
{
    std::vector<fs::path> candidates;
    if (quoted)
        candidates.push_back(file.parent_path() / name);
    candidates.push_back(kRoot / name);
    for (const fs::path& candidate : candidates) {
        std::error_code error;
        if (!fs::is_regular_file(candidate, error))
            continue;
        const std::string relative =
            fs::relative(fs::weakly_canonical(candidate), kRoot).generic_string();
        if (StartsWith(relative, ".."))
            return "";
        return relative;
    }
    return "";
}

std::vector<Include> ProjectIncludes()
{
    static const std::regex kInclude(R"(^\s*#\s*include\s*([<"])([^">]+)[">])");
    std::vector<Include> includes;
    for (const std::string& folder : kFolders) {
        if (!fs::is_directory(kRoot / folder))
            continue;
        for (const auto& entry : fs::recursive_directory_iterator(kRoot / folder)) {
            const std::string extension = entry.path().extension().string();
            if (!entry.is_regular_file() ||
                (extension != ".h" && extension != ".cpp" && extension != ".c"))
                continue;
            std::ifstream in(entry.path());
            std::string text;
            for (int line = 1; std::getline(in, text); ++line) {
                std::smatch match;
                if (!std::regex_search(text, match, kInclude))
                    continue;
                const std::string target = Resolve(entry.path(), match[2], match[1] == "\"");
                if (!target.empty())
                    includes.push_back({fs::relative(entry.path(), kRoot).generic_string(), line,
                                        target, match[0].str()});
            }
        }
    }
    return includes;
}

// Why the include breaks the rule, or "".
std::string Breaks(const IncludeRule& rule, const Include& include)
{
    if (!StartsWith(include.file, rule.from) || include.file == rule.exceptFile)
        return "";
    for (const std::string& forbidden : rule.forbidden) {
        if (forbidden == "*" && !StartsWith(include.target, rule.from))
            return rule.from + " may include nothing of the project outside " + rule.from;
        if (forbidden != "*" && StartsWith(include.target, forbidden))
            return rule.from + " may not include " + forbidden;
    }
    return "";
}

TEST(Layers, IncludesStayWithinTheirLayer)
{
    const std::vector<Include> includes = ProjectIncludes();
    ASSERT_GT(includes.size(), 100u) << "the source tree was not found at " << kRoot;
    for (const Include& include : includes)
        for (const IncludeRule& rule : IncludeRules())
            if (const std::string why = Breaks(rule, include); !why.empty())
                ADD_FAILURE() << include.file << ":" << include.line << ": " << include.written
                              << " -- " << why;
}

// ---- Links -----------------------------------------------------------------

struct Target {
    std::string folder;  // where it is defined, relative to the root
    std::vector<std::string> links;
};

std::map<std::string, Target> ReadTargets()
{
    std::map<std::string, Target> targets;
    std::ifstream in(VELNAR_LINK_CLOSURES);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, folder, closure;
        std::getline(fields, name, '\t');
        std::getline(fields, folder, '\t');
        std::getline(fields, closure);
        Target& target = targets[name];
        target.folder = folder;
        std::istringstream items(closure);
        for (std::string item; std::getline(items, item, ';');)
            if (!item.empty())
                target.links.push_back(item);
    }
    return targets;
}

struct LinkRule {
    std::string from;  // targets defined under this folder ...
    // ... link none of these: a folder of the project ("ui/": any target
    // defined there), a target by name, or a name prefix of an outside
    // library ("Qt6::Widgets").
    std::vector<std::string> forbidden;
    std::string why;
    std::set<std::string> allowed;  // project targets the rule lets through
    std::string exceptTarget;       // one target the rule leaves alone
};

std::vector<LinkRule> LinkRules()
{
    const std::vector<std::string> backends = {"platform/", "PkgConfig::"};
    const std::string interfacesOnly =
        "it sees the device interfaces (velnar_platform) only, never a backend";
    std::vector<LinkRule> rules = {
        {"iax/",
         {"platform/", "engine/", "mixer/", "settings/", "console/", "ui/", "Qt6::"},
         "the protocol library stands alone",
         {},
         ""},
        {"iax2/",
         {"platform/", "engine/", "mixer/", "settings/", "console/", "ui/", "Qt6::"},
         "the protocol library stands alone",
         {},
         ""},
        {"platform/",
         {"iax/", "engine/", "mixer/", "settings/", "console/", "ui/", "Qt6::Widgets"},
         "the devices know none of their users",
         {},
         ""},
        {"engine/",
         {"mixer/", "ui/", "console/", "Qt6::Widgets", "Qt6::Gui"},
         "the engine runs without a window",
         {},
         ""},
        {"engine/", backends, interfacesOnly, {"velnar_platform"}, ""},
        {"mixer/",
         {"iax/", "engine/", "console/", "ui/"},
         "the faders know only the mixer device",
         {},
         ""},
        {"mixer/", backends, interfacesOnly, {"velnar_platform"}, ""},
        {"console/",
         {"ui/", "mixer/", "Qt6::Widgets"},
         "the console phone links no widgets",
         {},
         ""},
        {"tools/",
         {"ui/"},
         "only the screenshot program links the window's library",
         {},
         "velnar_screenshots"},
        {"tools/", {"tests/", "GTest::"}, "tools build without the tests", {}, ""},
    };
    for (const std::string& folder : kProduct)
        rules.push_back(
            {folder + "/",
             {"velnar_platform_doubles", "tools/", "tests/", "bench/", "GTest::", "benchmark::"},
             "test doubles and test support stay out of the programs",
             {},
             ""});
    return rules;
}

TEST(Layers, TargetsLinkOnlyWhatTheirLayerMay)
{
    const std::map<std::string, Target> targets = ReadTargets();
    ASSERT_TRUE(targets.count("velnar_engine") && targets.count("velnar_iax"))
        << "no link closures in " << VELNAR_LINK_CLOSURES << ": run cmake again";
    for (const auto& [name, target] : targets) {
        for (const LinkRule& rule : LinkRules()) {
            if (!StartsWith(target.folder + "/", rule.from) || name == rule.exceptTarget)
                continue;
            for (const std::string& link : target.links) {
                const auto defined = targets.find(link);
                const std::string where =
                    defined == targets.end() ? link : defined->second.folder + "/";
                for (const std::string& forbidden : rule.forbidden)
                    if ((link == forbidden || StartsWith(where, forbidden)) &&
                        !rule.allowed.count(link))
                        ADD_FAILURE()
                            << name << " (" << target.folder << "/) links " << link << " -- "
                            << rule.from << " may not link " << forbidden << ": " << rule.why;
            }
        }
    }
}

}  // namespace
