#pragma once
// What a file that is not a tape-format backup is, in words a user can act on. The
// reader says only that the first block has a type it does not know; a user who picked
// a compressed copy or an archive learns here what to unpack first.

#include "u_MTFReader.h"

#include <string>

// Empty when the file begins with a tape header ("TAPE") or could not be opened (the
// reader's error line says why). Otherwise one line saying that the file is not a
// Microsoft Tape Format backup and, where its first bytes are the signature of another
// kind of file, which kind it looks like.
[[nodiscard]] std::u16string NotABackupExplanation(const TBackupFileReport& report);
