#include "app/debugLog.h"
#include "testSupport.h"

TEST(smoke, scratchIsPrivate)
{
    EXPECT_TRUE(testSupport::scratchDir().startsWith("/tmp/lumidra-test-"));
    debugLog("%s: hello\n", "smoke::test");
}
