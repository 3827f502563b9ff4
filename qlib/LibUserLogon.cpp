#include "LibUserLogon.h"

#include "LibAssert.h"
#include "LibLogger.h"

void QLibUnloadUserProfile::Close(const QLibLoadedProfile& loaded)
{
    if (!UnloadUserProfile(loaded.token, loaded.profile))
        QLIB_TRACE("QLibUserLogon::~QLibUserLogon", L"(%d) UnloadUserProfile failed. User=%s", GetLastError(),
                   loaded.userName.c_str());
}

QLibStatus QLibUserLogon::Open(const wchar_t* domain, const wchar_t* userName, const wchar_t* password,
                               BOOL inheritEnvironment, Step& failedStep)
{
    QLIB_ASSERT(!m_Token);
    m_UserName = userName;
    failedStep = LogonStep;
    HANDLE token = nullptr;
    if (!LogonUserW(userName, domain, password, LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, &token))
        return QLibLastError();
    m_Token.reset(token);
    failedStep = ProfileStep;
    PROFILEINFOW profile = {};
    profile.dwSize = sizeof(profile);
    profile.lpUserName = &m_UserName[0];
    if (!LoadUserProfileW(m_Token.get(), &profile))
        return QLibLastError();
    m_Profile.reset({m_Token.get(), profile.hProfile, m_UserName});
    failedStep = EnvironmentStep;
    void* environment = nullptr;
    if (!CreateEnvironmentBlock(&environment, m_Token.get(), inheritEnvironment))
        return QLibLastError();
    m_Environment.reset(environment);
    return QLibOk();
}
