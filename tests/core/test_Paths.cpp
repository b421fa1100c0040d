// The name search behind a file's size: wildcards in the last component only.

#include "uPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;

// A folder of its own for the files a test makes, removed with everything in it.
class TScratch {
public:
    TScratch()
    {
        std::string pattern = (fs::temp_directory_path() / "tarnwick-paths-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        FRoot = pattern;
    }
    ~TScratch()
    {
        std::error_code error;
        fs::remove_all(FRoot, error);
    }
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;

    [[nodiscard]] std::string Path(const std::string& relative) const { return FRoot + "/" + relative; }
    void File(const std::string& relative, size_t size) const
    {
        fs::create_directories(fs::path(Path(relative)).parent_path());
        std::ofstream(Path(relative), std::ios::binary) << std::string(size, 'x');
    }

private:
    std::string FRoot;
};

struct TSearchCase {
    const char* Name;
    const char* Pattern;  // below the scratch folder
    int64_t Size;
};

class NameSearch : public testing::TestWithParam<TSearchCase> {
protected:
    static void SetUpTestSuite()
    {
        FScratch = new TScratch;
        FScratch->File("sub/x.bak", 1234);
        FScratch->File("star*/x.bak", 77);  // a folder whose name holds a star
        FScratch->File("hidden/.h.bak", 55);
        fs::create_directories(FScratch->Path("folders/inner"));
    }
    static void TearDownTestSuite()
    {
        delete FScratch;
        FScratch = nullptr;
    }
    static TScratch* FScratch;
};

TScratch* NameSearch::FScratch = nullptr;

TEST_P(NameSearch, MatchesInTheLastFolderOnly)
{
    const TSearchCase& c = GetParam();
    EXPECT_EQ(FileSizeOf(FScratch->Path(c.Pattern)), c.Size) << c.Pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, NameSearch,
    testing::Values(TSearchCase{"ExactName", "sub/x.bak", 1234}, TSearchCase{"StarInTheName", "sub/x*", 1234},
                    TSearchCase{"QuestionMarkInTheName", "sub/?.bak", 1234},
                    TSearchCase{"NoMatchInTheFolder", "sub/*.none", 0},
                    // A folder is never searched for: the name stands for itself there.
                    TSearchCase{"StarInAFolder", "*/x.bak", 0},
                    TSearchCase{"QuestionMarkInAFolder", "su?/x.bak", 0},
                    TSearchCase{"StarsEverywhere", "*/*/*/*.bak", 0},
                    TSearchCase{"FolderNamedWithAStar", "star*/x.bak", 77},
                    TSearchCase{"FolderNamedWithAStarThenAPattern", "star*/*.bak", 77},
                    TSearchCase{"MissingFolder", "none/*.bak", 0},
                    // A star does not reach names that begin with a dot; a spelled dot does.
                    TSearchCase{"StarSkipsDotNames", "hidden/*", 0},
                    TSearchCase{"SpelledDot", "hidden/.h*", 55},
                    TSearchCase{"MatchIsAFolder", "folders/in*", 0}),
    [](const testing::TestParamInfo<TSearchCase>& info) { return std::string(info.param.Name); });

TEST(Paths, SpecialFilesHaveNoSize)
{
    EXPECT_EQ(FileSizeOf("/dev/zero"), 0);
    EXPECT_EQ(FileSizeOf("/dev/null"), 0);
    EXPECT_EQ(FileSizeOf("/"), 0);
}

}  // namespace
