#pragma once
// Preferences kept in property-list files, one dictionary per application domain and scope:
//   current user x any host      home/Library/Preferences/DOMAIN.plist
//   current user x current host  home/Library/Preferences/ByHost/DOMAIN.HOST.plist
//   any user x current host      L/Library/Preferences/DOMAIN.plist
// with home = $HOME (else the user database's entry), L = $VANTOR_LOCAL_ROOT (else "/") and
// HOST the host name. Any user x any host has no file. Every read reads the file; a missing
// file holds no values, and so does a file that cannot be read, is not a property list or whose
// top level is not a dictionary. A change reads the file, changes it and replaces it at once
// (a temporary file renamed over it), creating folders as needed; a change to a file that
// exists but cannot be read is refused and leaves it untouched. Domains holding "/" or naming
// "." or ".." have no file.

#include "shims/corefoundation/CFPropertyList.h"

#include <string>

extern const CFStringRef kCFPreferencesCurrentUser;
extern const CFStringRef kCFPreferencesAnyUser;
extern const CFStringRef kCFPreferencesCurrentHost;
extern const CFStringRef kCFPreferencesAnyHost;

// The first found of current user x current host, current user x any host, any user x current
// host. A new reference, or null.
CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID);
CFPropertyListRef CFPreferencesCopyValue(CFStringRef key, CFStringRef applicationID, CFStringRef userName,
                                         CFStringRef hostName);
// Stores the value (removes the key for a null value) in the scope's file at once; the outcome
// is reported by the next synchronisation of that scope.
void CFPreferencesSetValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID,
                           CFStringRef userName, CFStringRef hostName);
// Current user x any host.
void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID);
// True when every change of the scope since its last synchronisation reached the file; false
// for a scope without a file.
Boolean CFPreferencesSynchronize(CFStringRef applicationID, CFStringRef userName, CFStringRef hostName);
Boolean CFPreferencesAppSynchronize(CFStringRef applicationID);  // current user x any host
// The keys of the scope's dictionary in file order (empty for an empty dictionary); null when
// the file is missing or cannot be read.
CFArrayRef CFPreferencesCopyKeyList(CFStringRef applicationID, CFStringRef userName, CFStringRef hostName);

// Where the files live (see above): home and L without trailing "/", empty when unknown.
std::string CFShimHomeFolder();
std::string CFShimLocalRoot();
std::string CFShimHostName();
