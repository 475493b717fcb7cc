#pragma once
// Property-list texts and a temporary home and local root for the preferences tests.

#include "fixtures/TempDir.h"
#include "shims/corefoundation/CoreFoundationShim.h"

#include <string>

namespace plistfixture {

inline std::string xml(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" +
        body + "\n</plist>\n";
}

inline std::string dict(const std::string& entries) { return "<dict>" + entries + "</dict>"; }

inline std::string entry(const std::string& key, const std::string& value)
{
    return "<key>" + key + "</key>" + value;
}

inline std::string str(const std::string& text) { return "<string>" + text + "</string>"; }

// A dictionary of one entry whose key is the UTF-16 text "a", U+0000 (libplist asserts on it).
inline const std::string kZeroUnitKey("bplist00"
                                      "\xD1\x01\x02"  // dictionary: key object 1, value object 2
                                      "\x62\x00\x61\x00\x00"  // UTF-16 string of 2 units: 'a', U+0000
                                      "\x09"  // true
                                      "\x08\x0B\x10"  // offset table
                                      "\x00\x00\x00\x00\x00\x00\x01\x01"  // offset and reference sizes
                                      "\x00\x00\x00\x00\x00\x00\x00\x03"  // objects
                                      "\x00\x00\x00\x00\x00\x00\x00\x00"  // top object
                                      "\x00\x00\x00\x00\x00\x00\x00\x11",  // offset table position
                                      52);

// HOME and VANTOR_LOCAL_ROOT in a fresh folder (XDG_DATA_HOME cleared), with the paths of the
// three preference scopes of a domain.
class PreferencesRoot {
public:
    PreferencesRoot()
        : home_("HOME", (dir_ / "home").c_str()), local_("VANTOR_LOCAL_ROOT", (dir_ / "local").c_str()),
          xdg_("XDG_DATA_HOME", nullptr)
    {
    }
    const fixtures::TempDir& dir() const { return dir_; }
    std::string home() const { return dir_ / "home"; }
    std::string userFile(const std::string& domain) const
    {
        return home() + "/Library/Preferences/" + domain + ".plist";
    }
    std::string hostFile(const std::string& domain) const
    {
        return home() + "/Library/Preferences/ByHost/" + domain + "." + CFShimHostName() + ".plist";
    }
    std::string machineFile(const std::string& domain) const
    {
        return dir_ / ("local/Library/Preferences/" + domain + ".plist");
    }
    // Writes the file (folders made as needed) and returns its path.
    std::string put(const std::string& path, const std::string& bytes) const
    {
        return dir_.write(path.substr(dir_.path().size() + 1), bytes);
    }

private:
    fixtures::TempDir dir_;
    fixtures::ScopedEnv home_, local_, xdg_;
};

}  // namespace plistfixture
