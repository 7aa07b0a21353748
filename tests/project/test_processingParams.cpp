#include "project/processingParams.h"

#include <gtest/gtest.h>

TEST(processingParams, copyIsDeepForListsAndShallowForTables)
{
    processingTables_t tables;
    ASSERT_TRUE(tables.allocate());
    processingParams_t source;
    tables.attach(&source);
    source.precalculated = true;
    source.gamma = 2.2;
    source.curves[1].points = {QPointF(0, 0), QPointF(0.5, 0.6), QPointF(1, 1)};
    source.curves[1].type = 1;
    source.hueSelectivePoints = {{0.3, 0.7, 1.0}};
    source.colorMatrix[0][1] = 0.25f;

    processingParams_t copy;
    copyProcessingParams(&copy, &source);
    EXPECT_TRUE(copy.precalculated);
    EXPECT_EQ(copy.maskToneTable, source.maskToneTable);
    EXPECT_EQ(copy.curveLut[2], source.curveLut[2]);
    EXPECT_EQ(copy.gamma, 2.2);
    EXPECT_EQ(copy.curves[1].type, 1);
    EXPECT_EQ(copy.colorMatrix[0][1], 0.25f);

    // Editing the copy's lists leaves the source's lists unchanged.
    copy.curves[1].points[1] = QPointF(0.5, 0.1);
    copy.hueSelectivePoints.append({0.9, 0.2, 0.5});
    EXPECT_EQ(source.curves[1].points[1], QPointF(0.5, 0.6));
    EXPECT_EQ(source.hueSelectivePoints.size(), 1);

    // Copying into itself changes nothing.
    copyProcessingParams(&source, &source);
    EXPECT_EQ(source.curves[1].points.size(), 3);
    EXPECT_EQ(source.gamma, 2.2);

    source.destroy();
    EXPECT_TRUE(source.curves[1].points.isEmpty());
    EXPECT_TRUE(source.hueSelectivePoints.isEmpty());
    EXPECT_EQ(copy.curves[1].points.size(), 3);
}

TEST(processingParams, tablesAttachAndVignette)
{
    processingTables_t tables;
    processingParams_t params;
    ASSERT_TRUE(tables.allocate());
    ASSERT_TRUE(tables.allocateVignetteProfile(1234));
    tables.attach(&params);
    ASSERT_NE(params.vignetteProfile, nullptr);
    EXPECT_EQ(params.vignetteProfileCount, 1234);
    EXPECT_EQ(params.maskToneTable[2048 * 2048 - 1], 0.0f);
    EXPECT_FALSE(tables.allocateVignetteProfile(0));
    tables.attach(&params);
    EXPECT_EQ(params.vignetteProfile, nullptr);
    EXPECT_EQ(params.vignetteProfileCount, 0);
}
