// What a walk reads of the file, and what it says when a file is cut short.

#include "uReaderTestSupport.h"

#include <gtest/gtest.h>

namespace {

// Sets whose data streams the walk crosses by seeking: the file is read where the
// walk looks, not a mebibyte behind every skip.
TEST(BlockWalk, ReadsLittleMoreThanTheMetadataItParses)
{
    struct TCase {
        const char* Name;
        int Sets;
        uint64_t DataLength;
    };
    for (const TCase& c :
         {TCase{"12 sets of 1 MiB", 12, 1048576}, TCase{"6 sets of 3 MiB", 6, 3 * 1048576 + 5},
          TCase{"40 sets of 256 KiB", 40, 262144}}) {
        TFixtureBuilder b;
        b.MediaHeader();
        int64_t skipped = 0;
        for (int i = 0; i < c.Sets; ++i) {
            TBackupSetSpec spec;
            spec.DataLength = c.DataLength;
            b.BackupSet(spec);
            const auto n = static_cast<int64_t>(22 + c.DataLength);
            skipped += n + n % 4 - 22;
        }
        const int64_t metadata = b.Size() - skipped;
        const TReadResult r = ReadBuilt(b);
        ASSERT_EQ(r.Sets().size(), static_cast<size_t>(c.Sets)) << c.Name;
        EXPECT_TRUE(r.Errors().empty()) << c.Name;
        // Per set the walk looks at its metadata in two places and at the set's end; a
        // first piece of 16 KiB at each is the most it reads beyond what it parses.
        EXPECT_LE(r.Api->BytesDelivered, 4 * metadata + 3 * 16384 * c.Sets) << c.Name;
        EXPECT_LE(r.Api->BytesDelivered, b.Size() / 8) << c.Name;
        EXPECT_LE(r.Api->ReadCount, 4 * c.Sets + 2) << c.Name;
    }
}

}  // namespace
