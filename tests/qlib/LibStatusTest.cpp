#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "LibStatus.h"

TEST(QLibStatus, IsPlainFixedLayoutRecord)
{
    static_assert(std::is_trivially_copyable_v<QLibStatus>);
    static_assert(sizeof(QLibStatus) == 40);
}

TEST(QLibStatus, NeverSetCountsAsFailed)
{
    QLibStatus status;
    EXPECT_FALSE(status.IsOK());
    EXPECT_TRUE(status.IsFailed());
    EXPECT_EQ(-1, status.GetType());
    EXPECT_EQ(0u, status.GetCode());
}

TEST(QLibStatus, SetOKKeepsValueAndDetails)
{
    QLibStatus status;
    status.Set(QLIB_ERR_WIN32, 5, 7, 9, 0x1122334455667788ull);
    status.SetOK();
    EXPECT_TRUE(status.IsOK());
    EXPECT_EQ(0u, status.GetCode());
    EXPECT_EQ(0x1122334455667788ull, status.GetValue());
    EXPECT_EQ(7u, status.GetDetail1());
    EXPECT_EQ(9u, status.GetDetail2());
}

TEST(QLibStatus, SetZeroesReservedBytes)
{
    QLibStatus status;
    std::memset(static_cast<void*>(&status), 0xAB, sizeof status);
    status.Set(QLIB_ERR_SERVICE_STATE, 1);
    unsigned char bytes[sizeof status];
    std::memcpy(bytes, &status, sizeof status);
    // Type and code first, then the value, the two details, then the reserved tail.
    uint32_t type, code;
    std::memcpy(&type, bytes, 4);
    std::memcpy(&code, bytes + 4, 4);
    EXPECT_EQ(6u, type);
    EXPECT_EQ(1u, code);
    for (size_t i = 8; i < 36; ++i)
        EXPECT_EQ(0, bytes[i]) << "byte " << i;
    EXPECT_TRUE(status.Is(QLIB_ERR_SERVICE_STATE, 1));
    EXPECT_FALSE(status.Is(QLIB_ERR_SERVICE_STATE, 2));
}

TEST(QLibStatus, CopyKeepsInnermostFailure)
{
    QLibStatus inner;
    inner.Set(QLIB_ERR_COM, 0x8000500D);
    QLibStatus outer;
    outer = inner;
    EXPECT_EQ(QLIB_ERR_COM, static_cast<uint32_t>(outer.GetType()));
    EXPECT_EQ(0x8000500Du, outer.GetCode());
    EXPECT_TRUE(outer.IsFailed());
}

TEST(QLibStatus, BuildersGiveTypeAndCode)
{
    SetLastError(ERROR_ACCESS_DENIED);
    const struct {
        QLibStatus status;
        int32_t type;
        uint32_t code;
    } rows[] = {
        {QLibOk(), QLIB_ERR_NONE, 0},
        {QLibWin32Failure(ERROR_FILE_NOT_FOUND), QLIB_ERR_WIN32, ERROR_FILE_NOT_FOUND},
        {QLibLastError(), QLIB_ERR_WIN32, ERROR_ACCESS_DENIED},
        {QLibFailure(QLIB_ERR_SERVICE_STATE, 1), QLIB_ERR_SERVICE_STATE, 1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.type, row.status.GetType());
        EXPECT_EQ(row.code, row.status.GetCode());
        EXPECT_EQ(0u, row.status.GetValue());
    }
}
