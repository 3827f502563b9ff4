#include "LibFetchSized.h"

#include "LibAssert.h"
#include "LibLogger.h"

namespace {

// A call whose answer keeps growing faster than it can be fetched fails with its "more data" error.
constexpr int Attempts = 3;

using Blocks = std::initializer_list<QLibSizedBlock*>;

bool IsMoreData(const QLibSizedCall& sized, DWORD error)
{
    return error == ERROR_INSUFFICIENT_BUFFER || error == sized.moreData;
}

void Empty(Blocks blocks)
{
    for (QLibSizedBlock* block : blocks) {
        block->data.reset();
        block->size = 0;
    }
}

// HeapAlloc sets no error code of its own.
QLibStatus Allocate(const QLibSizedCall& sized, Blocks blocks)
{
    for (QLibSizedBlock* block : blocks) {
        DWORD bytes = block->size * block->unit;
        block->data.reset(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
        if (!block->data) {
            if (sized.allocFailedFormat != nullptr)
                QLIB_TRACE(sized.function, sized.allocFailedFormat, ERROR_NOT_ENOUGH_MEMORY, bytes);
            Empty(blocks);
            return QLibWin32Failure(ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    return QLibOk();
}

QLibStatus CallFailure(const QLibSizedCall& sized, Blocks blocks, DWORD error, bool second)
{
    if (sized.traceFailure)
        sized.traceFailure(error, second);
    Empty(blocks);
    return QLibWin32Failure(error);
}

QLibStatus SizeQuerySucceeded(const QLibSizedCall& sized)
{
    QLIB_ASSERT(sized.sizeQuerySuccess != QLibSizeQuerySuccess::Impossible);
    if (sized.sizeQuerySuccess == QLibSizeQuerySuccess::InvalidData)
        return QLibWin32Failure(ERROR_INVALID_DATA);
    return QLibOk();
}

} // namespace

QLibStatus QLibFetchSized(const QLibSizedCall& sized, Blocks blocks)
{
    for (int attempt = 1;; ++attempt) {
        Empty(blocks);
        DWORD error = sized.call();
        if (error == ERROR_SUCCESS)
            return SizeQuerySucceeded(sized);
        if (!IsMoreData(sized, error))
            return CallFailure(sized, blocks, error, false);
        QLibStatus status = Allocate(sized, blocks);
        if (status.IsFailed())
            return status;
        error = sized.call();
        if (error == ERROR_SUCCESS)
            return QLibOk();
        if (!IsMoreData(sized, error) || attempt == Attempts)
            return CallFailure(sized, blocks, error, true);
    }
}
