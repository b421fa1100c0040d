#pragma once
// Value texts of the backup tree that do not depend on a widget: byte sizes, file type
// codes, GUIDs, Booleans and product names. Shared by the window and tarnwick-dump, so
// both show a value the same way.

#include "uTypesMTF.h"

#include <cstdint>
#include <string>

// A byte count as "1 byte", "1,023 bytes", "1.500 KB", "117.738 MB", "4.657 GB": three
// decimals above 1023 bytes, dropped when they are all zero, with the separators of the
// locale in force (LocaleFormat()).
[[nodiscard]] std::u16string FormatByteSize(int64_t value);

// FormatByteSize of the value, then " (", the plain count and " bytes)".
[[nodiscard]] std::u16string SizeWithByteCountText(int64_t value);

// The code, then its meaning in brackets: "L (transaction log file)"; " ()" for an
// empty code. Exact, case-sensitive comparison.
[[nodiscard]] std::string FileTypeText(const std::string& fileType);

// Registry form: "{" 8-4-4-4-12 upper-case hex digits "}"; the first three groups are
// the little-endian parts read as numbers, the last two the bytes in stored order.
[[nodiscard]] std::string GuidText(const TGUID& guid);

[[nodiscard]] std::string BooleanText(bool value);

// A date as every view of a set writes it: the locale's short date and long time
// (LocaleFormat()), the time left out when it is exactly midnight.
[[nodiscard]] std::u16string DateValueText(TDateTime value);

// A log sequence number as plain decimal digits, exactly.
[[nodiscard]] std::u16string LsnText(const TBigInteger& value);

// The name of a set's backup type as the records hold it ("Database", "Transaction
// log", "Database differential"...); empty for a type code the reader does not know.
[[nodiscard]] std::u16string BackupTypeText(const TBackupHeader& header);

// "SQL Server 2008 R2 (10)" and the like for the major versions that have a product
// name; the plain number for every other version.
[[nodiscard]] std::string ProductNameText(int32_t major, int32_t minor);

// The message of an error box: a "." is appended when the last character sorts after
// "." ("Disk full" gets one; "Disk full." and "Stop!" do not).
[[nodiscard]] std::u16string ErrorMessageText(const std::u16string& message);
