#pragma once
// The trigger's use of the cluster API: the one cluster handle, the message log, and reads that copy
// what the API hands out and release it at once, so no path can leave an object unreleased.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "TarnApi.h"

// Exit codes and placement results.
const int TriggerOnline = 0;
const int TriggerNotPlaced = 1;
const int TriggerOther = 99;

const char* const TriggerTypeName = "Tollan";

struct TriggerMessage {
    uint32_t id;
    char severity;
    const char* format;
};

struct TriggerSystemState {
    std::string system;
    uint32_t state;
};

// Texts of a failed attribute read: the first takes the resource, the second the resource or the
// attribute name, as `strNamesAttribute` says.
struct TriggerAttrFailures {
    const char* attrFormat;
    const char* strFormat;
    bool strNamesAttribute;
};

// Messages of one online request; `before` and `done` take the group and the system.
struct TriggerOnlineMessages {
    TriggerMessage fillFailed;
    TriggerMessage before;
    TriggerMessage failed;
    TriggerMessage done;
};

enum TriggerOnlineOutcome { TriggerOnlineNoCntlInfo, TriggerOnlineRefused, TriggerOnlineAccepted };

// The cluster API in use and the trigger's one cluster handle, both ended when the session goes, whichever way
// the trigger is left.
class TriggerClusterSession {
public:
    TriggerClusterSession();
    ~TriggerClusterSession();
    TriggerClusterSession(const TriggerClusterSession&) = delete;
    TriggerClusterSession& operator=(const TriggerClusterSession&) = delete;

    bool IsOpen() const;

private:
    bool m_ApiStarted = false;
};

const size_t TriggerMessageSize = 1024;

// Every insert passes through here: a text is never null, and nothing but texts and numbers can reach
// a format.
inline const char* TriggerArg(const char* text)
{
    return text ? text : "";
}
inline const char* TriggerArg(const std::string& text)
{
    return text.c_str();
}
inline int TriggerArg(int value)
{
    return value;
}

void TriggerWriteLog(const TriggerMessage& message, const char* text);
void TriggerFetchError();

// Formats into the bounded message buffer and hands the text to the cluster's message log.
template <typename... Args>
void TriggerLog(const TriggerMessage& message, const Args&... args)
{
    char text[TriggerMessageSize];
    if constexpr (sizeof...(Args) == 0)
        _snprintf(text, sizeof text, "%s", message.format);
    else
        _snprintf(text, sizeof text, message.format, TriggerArg(args)...);
    text[sizeof text - 1] = '\0';
    TriggerWriteLog(message, text);
}

// A failed cluster call: its message, then its error record fetched and released.
template <typename... Args>
void TriggerCallFailed(const TriggerMessage& message, const Args&... args)
{
    TriggerLog(message, args...);
    TriggerFetchError();
}

bool TriggerSameText(const std::string& left, const std::string& right);

// A resource's attribute as text; `attrFailId` with `attrFormat` when the attribute cannot be read,
// `strFailId` with `strFormat` when its text cannot.
bool TriggerReadAttribute(const std::string& resource, const char* attribute, uint32_t attrFailId, uint32_t strFailId,
                          const TriggerAttrFailures& failures, std::string& value);

// The resources a control info of `cntlKind` selects; `fillFailed` or `namesFailed` (each with `arg`) is
// logged when building the control info or the lookup fails.
bool TriggerGetNames(uint32_t cntlKind, const std::vector<const char*>& values, const TriggerMessage& fillFailed,
                     const TriggerMessage& namesFailed, const char* arg, std::vector<std::string>& names);

// The first object entry's systems, in the order given; no entry is an empty answer.
bool TriggerGetStates(uint32_t objectKind, const std::string& object, const char* limitToSystem,
                      const TriggerMessage& fillFailed, const TriggerMessage& stateFailed,
                      std::vector<TriggerSystemState>& states);

// An online request with a control info built for it alone.
TriggerOnlineOutcome TriggerBringOnline(const std::string& group, const std::string& system,
                                        const TriggerOnlineMessages& messages);
