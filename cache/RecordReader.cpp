#include "cache/RecordReader.h"

#include <algorithm>
#include <limits>

#include "common/CriticalSection.h"
#include "common/HostResults.h"

namespace {

// Buffers given back by finished reads, for the next ones. A few buffers of a
// bounded size: a list larger than that is read into memory of its own.
class BufferPool {
public:
    struct Buffer {
        std::unique_ptr<std::byte[]> data;
        std::size_t capacity = 0;
    };

    // A buffer of at least bytes, from the pool when one is large enough.
    Buffer Take(std::size_t bytes) {
        {
            ExclusiveLock hold(lock_);
            for (Buffer& kept : kept_) {
                if (kept.capacity >= bytes) {
                    Buffer taken = std::move(kept);
                    kept = std::move(kept_.back());
                    kept_.pop_back();
                    return taken;
                }
            }
        }
        // Room to grow, so that a list read again after a few more children fits.
        const std::size_t capacity = std::max<std::size_t>(bytes + bytes / 8, 4096);
        return {std::make_unique_for_overwrite<std::byte[]>(capacity), capacity};
    }

    void Give(Buffer buffer) noexcept {
        if (!buffer.data || buffer.capacity > kMaxKeptBytes) return;
        ExclusiveLock hold(lock_);
        if (kept_.size() == kMaxKept) {
            // The smallest goes: the larger one serves more reads.
            auto smallest = std::min_element(kept_.begin(), kept_.end(),
                                             [](const Buffer& a, const Buffer& b) { return a.capacity < b.capacity; });
            if (smallest->capacity >= buffer.capacity) return;
            *smallest = std::move(buffer);
            return;
        }
        kept_.push_back(std::move(buffer));
    }

private:
    static constexpr std::size_t kMaxKept = 4;
    static constexpr std::size_t kMaxKeptBytes = 8 * 1024 * 1024;
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<Buffer> kept_;
};

BufferPool& Buffers() {
    static BufferPool pool;
    return pool;
}

}  // namespace

StreamBytes::~StreamBytes() { Buffers().Give({std::move(data_), capacity_}); }

HRESULT StreamBytes::Read(IStream* stream, std::size_t limit) {
    size_ = 0;
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return ITEM_E_CACHEREAD;
    const ULONG want = static_cast<ULONG>(
        std::min<ULONGLONG>({stat.cbSize.QuadPart, limit, std::numeric_limits<ULONG>::max()}));
    if (want == 0) return S_OK;

    if (capacity_ < want) {
        Buffers().Give({std::move(data_), capacity_});
        BufferPool::Buffer buffer = Buffers().Take(want);
        data_ = std::move(buffer.data);
        capacity_ = buffer.capacity;
    }
    ULONG got = 0;
    const HRESULT hr = stream->Read(data_.get(), want, &got);
    size_ = std::min(got, want);
    return FAILED(hr) && size_ == 0 ? ITEM_E_CACHEREAD : S_OK;
}

HRESULT ReadRecord(IStream* stream, ItemObject& item) {
    StreamBytes bytes;
    if (FAILED(bytes.Read(stream, kMaxRecordBytes))) return ITEM_E_CACHEREAD;
    RecordCursor cursor(bytes.View());
    return ParseRecord(cursor, item);
}

HRESULT ReadChildList(IStream* stream, std::size_t limit, std::vector<RefPtr<ChildWithLink>>& children) {
    StreamBytes bytes;
    if (FAILED(bytes.Read(stream, limit))) return ITEM_E_CACHEREAD;
    RecordCursor cursor(bytes.View());
    return ParseChildList(cursor, [&children](RecordCursor& records) {
        RefPtr<ChildWithLink> child(new ChildWithLink());
        const HRESULT hr = ParseRecord(records, *child);
        if (SUCCEEDED(hr)) children.push_back(child);
        return hr;
    });
}
