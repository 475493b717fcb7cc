#pragma once
// The plug-in's preferences store (not part of the module): values of an application domain such
// as "com." + vendor + "." + product, kept by the CoreFoundation preferences. Domains, keys and
// texts are UTF-8; one that is not makes a function return false. Texts are read through a
// 2048-byte buffer (a longer value is not read). "Service lookup" is the application value of
// the key, else its value for the current user and any host.

#include <cstdint>
#include <string>
#include <vector>

namespace vantor {

// Where a value is looked for or stored. Simple reads other than the level-4 string read, simple
// writes and single-key listings do not use it.
//   level | simple string read  | key-path read                          | key-path write, delete
//   0, 2  | service lookup      | current user x any host, then level 3  | current user x current host
//   1     | service lookup      | application value, current user x any  | any user x current host
//         |                     | host, then level 3                     |
//   3     | service lookup      | machine-wide file, then current user   | current user x current host
//         |                     | x any host                             |
//   4     | user's file, direct | as level 0                             | current user x current host
enum CONFIG_LEVEL : int32_t {
    CONFIG_LEVEL_USER = 0,
    CONFIG_LEVEL_SYSTEM = 1,  // the plug-in's level
    CONFIG_LEVEL_USER_2 = 2,
    CONFIG_LEVEL_MACHINE_FILE = 3,
    CONFIG_LEVEL_USER_FILE = 4,
};

using ConfigKeyPath = std::vector<std::string>;

// Service lookup; true for a number that is a 32-bit integer (an integer in range, or a whole
// real in range). `out` is untouched when false.
bool readConfigIntValue(const std::string& domain, const std::string& key, int32_t& out, CONFIG_LEVEL level);
// Service lookup; true for any number (booleans are not numbers).
bool readConfigDoubleValue(const std::string& domain, const std::string& key, double& out,
                           CONFIG_LEVEL level);
// Level 4: the user's preferences file read directly, keys compared without regard to case, the
// last string entry winning. Other levels: service lookup of a string.
bool readConfigStringValue(const std::string& domain, const std::string& key, std::string& out,
                           CONFIG_LEVEL level);
// Store at current user x any host and synchronise: true when the store was written.
bool writeConfigIntValue(const std::string& domain, const std::string& key, int32_t value,
                         CONFIG_LEVEL level);
bool writeConfigStringValue(const std::string& domain, const std::string& key, const std::string& value,
                            CONFIG_LEVEL level);
// Removes the key at current user x any host; true also when there was nothing to remove.
bool deleteConfigValue(const std::string& domain, const std::string& key, CONFIG_LEVEL level);
bool deleteConfigKey(const std::string& domain, const std::string& key, CONFIG_LEVEL level);  // false
bool listConfigStringKeys(const std::string& domain, const std::string& key, std::vector<std::string>& out,
                          CONFIG_LEVEL level);  // false
// Appends the keys of the dictionary found by service lookup under the key ("Root" for an empty
// key) in its own order; true when at least one was appended.
bool listConfigKeys(const std::string& domain, const std::string& key, std::vector<std::string>& out,
                    CONFIG_LEVEL level);
// Keys of the dictionary under the key at any user x current host and at current user x current
// host, appended once each in ascending byte order; true when there is at least one.
bool listAndMergeSystemUserConfigKeys(const std::string& domain, const std::string& key,
                                      std::vector<std::string>& out);

// Key paths: a top-level key, then one key per dictionary level (see the table above). A
// one-name read is the simple string read, except at level 3, where it gives the top value
// when that is a string.
bool readConfigStringValue(const std::string& domain, const ConfigKeyPath& path, std::string& out,
                           CONFIG_LEVEL level);
// One to three names; a name holding something other than a dictionary is replaced by one.
bool writeConfigStringValue(const std::string& domain, const ConfigKeyPath& path, const std::string& value,
                            CONFIG_LEVEL level);
// Empty path: the domain's keys at current user x any host (false when its file is missing or
// unreadable); one name: listConfigKeys; longer: the keys of the dictionary the path names.
bool listConfigKeys(const std::string& domain, const ConfigKeyPath& path, std::vector<std::string>& out,
                    CONFIG_LEVEL level);
// Removes `key` from the top level (empty path) or from the dictionary one or two names down.
bool deleteConfigKey(const std::string& domain, const ConfigKeyPath& path, const std::string& key,
                     CONFIG_LEVEL level);

}  // namespace vantor
