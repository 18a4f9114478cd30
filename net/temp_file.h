// Unique file names in the user's temporary folder for downloads with UseTempFile.
#pragma once

#include <string>

namespace upd::net {

// The temporary folder: $TMPDIR when set and not empty, else "/tmp"; with a trailing "/".
std::string temporaryFolder();

// A new, empty file "<folder>/<8 characters>.tmp" (each character a digit with
// probability 1/3, else a letter, upper or lower case with equal chance), created
// exclusively, readable and writable by its owner only, so no other process can take the
// same name between the choice and the creation. Returns its path; empty when the folder
// cannot be written (the caller reports that it cannot create the file).
std::string MakeTempFileName();

}  // namespace upd::net
