#pragma once
// QLibStatus: the result record of every library and agent operation.

#include <windows.h>

#include <cstdint>

// Sources of a failure, as carried in the error type.
enum QLibErrorType : uint32_t {
    QLIB_ERR_NOT_SET = 0xFFFFFFFFu,
    QLIB_ERR_NONE = 0,
    QLIB_ERR_FRAMEWORK = 1,
    QLIB_ERR_WIN32 = 2,
    QLIB_ERR_NETWORK = 3,
    QLIB_ERR_COM = 4,
    QLIB_ERR_SERVICE_STATE = 6,
    QLIB_ERR_PROCESS_WAIT = 7,
    QLIB_ERR_DIRECTORY = 27,
    QLIB_ERR_DNS = 28,
    QLIB_ERR_CLUSTER_API = 33,
};

// Dropping one silently could report a failure as success: each intended drop is written (void).
class [[nodiscard]] QLibStatus {
public:
    QLibStatus() = default;

    void Set(uint32_t type, uint32_t code, uint32_t detail1 = 0, uint32_t detail2 = 0, uint64_t value = 0)
    {
        m_Type = type;
        m_Code = code;
        m_Value = value;
        m_Detail1 = detail1;
        m_Detail2 = detail2;
        m_Reserved1 = 0;
        m_Reserved2 = 0;
    }

    // Only type and code change: a value carried before survives.
    void SetOK()
    {
        m_Type = QLIB_ERR_NONE;
        m_Code = 0;
    }

    int32_t GetType() const { return static_cast<int32_t>(m_Type); }
    uint32_t GetCode() const { return m_Code; }
    uint64_t GetValue() const { return m_Value; }
    uint32_t GetDetail1() const { return m_Detail1; }
    uint32_t GetDetail2() const { return m_Detail2; }

    bool IsOK() const { return m_Type == QLIB_ERR_NONE; }
    bool IsFailed() const { return !IsOK(); }

    bool Is(uint32_t type, uint32_t code) const { return m_Type == type && m_Code == code; }

private:
    uint32_t m_Type = QLIB_ERR_NOT_SET;
    uint32_t m_Code = 0;
    uint64_t m_Value = 0;
    uint32_t m_Detail1 = 0;
    uint32_t m_Detail2 = 0;
    uint64_t m_Reserved1 = 0;
    uint32_t m_Reserved2 = 0;
};

// The builders every operation uses for its result.
inline QLibStatus QLibFailure(uint32_t type, uint32_t code)
{
    QLibStatus status;
    status.Set(type, code);
    return status;
}

inline QLibStatus QLibOk()
{
    return QLibFailure(QLIB_ERR_NONE, 0);
}

inline QLibStatus QLibWin32Failure(DWORD code)
{
    return QLibFailure(QLIB_ERR_WIN32, code);
}

// Call it straight after the failed call, before anything else can change the thread's last error.
inline QLibStatus QLibLastError()
{
    return QLibWin32Failure(GetLastError());
}
