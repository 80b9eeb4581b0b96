// CTest runs each test case of this program as a process of its own, several at a time.
// Drive letters follow the mount order, so a RAM disk mounted by one case would shift the
// letters another case is looking at: every process of this program holds one lock for its
// whole run, so mounts and letter checks never overlap.
#include <QDir>
#include <QLockFile>
#include <gtest/gtest.h>

namespace {

class MountLock : public testing::Environment
{
public:
    void SetUp() override { ASSERT_TRUE(lock_.lock()) << "cannot take " << path_.toStdString(); }
    void TearDown() override { lock_.unlock(); }

private:
    QString path_ = QDir::tempPath() + "/orvix-drive-tests.lock";
    QLockFile lock_{path_};
};

[[maybe_unused]] testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new MountLock);

} // namespace
