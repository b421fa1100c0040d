#pragma once
// The records one read of a backup file produces. Plain values: the readers fill them
// field by field during the walk, the tree rows and the dump only read them.
// Fields keep the order in which a backup set's metadata is listed to the user and in
// the JSON dump, so do not reorder them.

#include "uBigInteger.h"
#include "uTypesCore.h"

#include <array>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <string>

// UTF-16 text from the file is std::u16string; the fields that were narrow
// system-code-page text in the original records are UTF-8 std::string.
struct TBackupHeader {
    std::u16string FileName;
    std::u16string BackupName;
    std::u16string BackupDescription;
    int32_t BackupType = 0;
    std::string BackupTypeCode;
    bool HasPassword = false;
    int32_t DataSetNumber = 0;
    std::string UserName;
    std::string ServerName;
    std::u16string DatabaseName;
    int32_t DatabaseVersion = 0;
    TDateTime DatabaseCreationDate = 0;
    int64_t BackupSize = 0;
    TBigInteger FirstLSN;
    TBigInteger LastLSN;
    TBigInteger CheckpointLSN;
    TBigInteger DatabaseBackupLSN;
    TDateTime BackupStartDate = 0;
    TDateTime BackupEndDate = 0;
    int32_t SortOrder = 0;
    int32_t UnicodeLocaleID = 0;
    int32_t UnicodeComparisonStyle = 0;
    int32_t CompatibilityLevel = 0;
    int32_t SoftwareVendorID = 0;
    int32_t SoftwareVersionMajor = 0;
    int32_t SoftwareVersionMinor = 0;
    int32_t SoftwareVersionBuild = 0;
    std::string MachineName;
    int32_t Flags = 0;
    TGUID BindingID{};
    TGUID RecoveryForkID{};
    int32_t Collation = 0;
    TGUID FamilyGUID{};
    int32_t FamilyCount = 0;
    int32_t FamilySequenceNumber = 0;
    bool HasBulkLoggedData = false;
    bool IsSnapshot = false;
    bool IsReadOnly = false;
    bool IsSingleUser = false;
    bool HasBackupChecksums = false;
    bool IsDamaged = false;
    bool BeginsLogChain = false;
    bool HasIncompleteMetadata = false;
    bool IsForceOffline = false;
    bool IsCopyOnly = false;
    TBigInteger ForkPointLSN;
    std::string RecoveryModel;
    TBigInteger DifferentialBaseLSN;
    TGUID DifferentialBaseGUID{};
    std::string BackupTypeDescription;
    TGUID BackupSetGUID{};

    friend bool operator==(const TBackupHeader&, const TBackupHeader&) = default;
};

struct TBackupFile {
    std::u16string LogicalName;
    std::u16string PhysicalName;
    std::string FileType;
    std::u16string FilegroupName;
    int64_t Size = 0;
    int64_t MaxSize = 0;
    int32_t FileID = 0;
    TBigInteger CreateLSN;
    TBigInteger DropLSN;  // no block supplies it; always zero
    TGUID UniqueID{};
    TBigInteger ReadOnlyLSN;
    TBigInteger ReadWriteLSN;
    int64_t BackupSize = 0;
    int32_t SourceBlockSize = 0;
    int32_t FilegroupID = 0;
    TBigInteger DifferentialBaseLSN;
    TGUID DifferentialBaseGUID{};
    bool IsReadOnly = false;
    bool IsPresent = false;

    friend bool operator==(const TBackupFile&, const TBackupFile&) = default;
};

// The files of one set, in the order of each file's first SFIN block.
// Chunked storage: a set may hold 32,767 files, and a damaged file many more, without
// one large allocation. Copies share one list until one of them is changed: the reader
// keeps a copy of every set it has read besides the sets of the last read, and two full
// lists of a large set would double its memory. A reference got from a non-const
// accessor is only good until the list is next copied.
class TBackupFiles {
public:
    using TList = std::deque<TBackupFile>;
    using value_type = TBackupFile;
    using size_type = size_t;
    using iterator = TList::iterator;
    using const_iterator = TList::const_iterator;

    TBackupFiles() = default;
    TBackupFiles(std::initializer_list<TBackupFile> files) : FList(std::make_shared<TList>(files)) {}

    [[nodiscard]] size_t size() const { return FList ? FList->size() : 0; }
    [[nodiscard]] bool empty() const { return size() == 0; }

    const_iterator begin() const { return List().begin(); }
    const_iterator end() const { return List().end(); }
    iterator begin() { return Own().begin(); }
    iterator end() { return Own().end(); }

    const TBackupFile& operator[](size_t i) const { return List()[i]; }
    TBackupFile& operator[](size_t i) { return Own()[i]; }
    const TBackupFile& at(size_t i) const { return List().at(i); }
    TBackupFile& at(size_t i) { return Own().at(i); }
    const TBackupFile& front() const { return List().front(); }
    const TBackupFile& back() const { return List().back(); }
    TBackupFile& back() { return Own().back(); }

    void push_back(TBackupFile file) { Own().push_back(std::move(file)); }
    TBackupFile& emplace_back() { return Own().emplace_back(); }
    void resize(size_t count) { Own().resize(count); }
    void clear() { FList.reset(); }

    friend bool operator==(const TBackupFiles& a, const TBackupFiles& b)
    {
        return a.FList == b.FList || a.List() == b.List();
    }

private:
    const TList& List() const
    {
        static const TList none;
        return FList ? *FList : none;
    }
    // The list this object may change: its own, copied first if another object shares it.
    TList& Own()
    {
        if (!FList)
            FList = std::make_shared<TList>();
        else if (FList.use_count() > 1)
            FList = std::make_shared<TList>(*FList);
        return *FList;
    }

    std::shared_ptr<TList> FList;
};

struct TBackupDetails {
    TBackupHeader Header;
    TBackupFiles Files;

    friend bool operator==(const TBackupDetails&, const TBackupDetails&) = default;
};

// One element per backup set, in file order; chunked like Files, since a damaged file
// can begin a set every few bytes.
using TBackupSets = std::deque<TBackupDetails>;
