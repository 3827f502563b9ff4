#pragma once
// A user logged on for starting programs as that user: the logon token, the user's loaded profile and an
// environment block built from the token. Released in that order backwards when the object goes.

#include <windows.h>

#include <string>

#include "LibOwners.h"
#include "LibStatus.h"

// A profile loaded for a token, with the user it was loaded for: unloading needs the token and the profile, and
// a refused unload is traced with the user's name. The token has its own owner, which must outlive this one.
struct QLibLoadedProfile {
    HANDLE token = nullptr;
    HANDLE profile = nullptr;
    std::wstring userName;
};
// Some systems refuse to unload a profile that is still in use; that never decides a caller's result.
struct QLibUnloadUserProfile {
    static bool IsValid(const QLibLoadedProfile& loaded) { return loaded.profile != nullptr; }
    static void Close(const QLibLoadedProfile& loaded);
};
using QLibProfileOwner = QLibUnique<QLibLoadedProfile, QLibUnloadUserProfile>;

class QLibUserLogon {
public:
    enum Step { LogonStep, ProfileStep, EnvironmentStep };

    QLibUserLogon() = default;

    QLibUserLogon(const QLibUserLogon&) = delete;
    QLibUserLogon& operator=(const QLibUserLogon&) = delete;

    // Interactive logon, profile, environment (with the caller's variables when inheritEnvironment is TRUE).
    // On failure failedStep names the step whose status is returned; callers write their own messages.
    QLibStatus Open(const wchar_t* domain, const wchar_t* userName, const wchar_t* password, BOOL inheritEnvironment,
                    Step& failedStep);
    HANDLE GetToken() const { return m_Token.get(); }
    void* GetEnvironment() const { return m_Environment.get(); }

private:
    std::wstring m_UserName;
    QLibHandleOwner m_Token;
    QLibEnvironmentOwner m_Environment;
    QLibProfileOwner m_Profile;
};
