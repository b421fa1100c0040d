#include "uLargeFixtures.h"

#include "uFixtureBuilder.h"
#include "uTextConvert.h"

std::string WriteManyFilesBackup(const std::string& path)
{
    TFixtureBuilder b;
    b.MediaHeader();
    TBackupSetSpec spec;
    spec.Files.clear();
    for (int32_t id = 1; id <= 32767; ++id) {
        TSfinSpec file;
        file.FileID = id;
        file.LogicalName = u"Sales_data_" + Utf8ToUtf16(std::to_string(id));
        file.PhysicalName = u"D:\\Data\\Sales_data_" + Utf8ToUtf16(std::to_string(id)) + u".ndf";
        spec.Files.push_back(file);
    }
    b.BackupSet(spec);
    b.WriteTo(path);
    return path;
}

std::string WriteThousandSetsBackup(const std::string& path)
{
    TFixtureBuilder b;
    b.MediaHeader();
    for (int i = 0; i < 1000; ++i) {
        TBackupSetSpec spec;
        spec.Sset.Name = {u"Log backup " + Utf8ToUtf16(std::to_string(i + 1))};
        spec.Scin.TypeLetter = 'L';
        spec.DataLength = 4096;
        b.BackupSet(spec);
    }
    b.WriteTo(path);
    return path;
}
