#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <strmif.h>
#include <uuids.h>

#include <string.h>

#include "framework/MediaTypeRecord.h"
#include "tests/support/TaskMemorySpy.h"

namespace {

// A plain reference-counted object to stand as a record's pUnk.
class CountedUnknown : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = IsEqualIID(iid, IID_IUnknown) ? this : nullptr;
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_Count)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&m_Count)); }
    LONG Count() const { return m_Count; }

private:
    volatile LONG m_Count = 1;
};

const BYTE SampleBlock[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

// A record with its own task-memory format block.
void FillVideo(MediaTypeRecord& record, const BYTE* block = SampleBlock, ULONG size = sizeof(SampleBlock))
{
    ReleaseTypeRecord(record);
    record.majortype = MEDIATYPE_Video;
    record.subtype = MEDIASUBTYPE_RGB24;
    record.formattype = FORMAT_VideoInfo;
    record.cbFormat = size;
    record.pbFormat = size ? static_cast<BYTE*>(CoTaskMemAlloc(size)) : nullptr;
    if (size) memcpy(record.pbFormat, block, size);
}

class MediaTypeRecordTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_Spy.Registered()); }
    void TearDown() override { EXPECT_EQ(0u, m_Spy.Outstanding()) << "task memory leaked"; }

    TaskMemorySpy m_Spy;
};

} // namespace

TEST_F(MediaTypeRecordTest, EmptyRecordDefaults)
{
    MediaTypeRecord record;
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, record.majortype));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, record.subtype));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, record.formattype));
    EXPECT_EQ(TRUE, record.bFixedSizeSamples);
    EXPECT_EQ(FALSE, record.bTemporalCompression);
    EXPECT_EQ(1u, record.lSampleSize);
    EXPECT_EQ(0u, record.cbFormat);
    EXPECT_EQ(nullptr, record.pbFormat);
    EXPECT_EQ(nullptr, record.pUnk);
}

TEST_F(MediaTypeRecordTest, CopyIsDeepAndHoldsItsOwnOwnerReference)
{
    CountedUnknown owner;
    MediaTypeRecord source;
    FillVideo(source);
    source.lSampleSize = 1234;
    source.bTemporalCompression = TRUE;
    source.pUnk = &owner;
    owner.AddRef();
    {
        HRESULT result = S_OK;
        MediaTypeRecord copy(source, &result);
        EXPECT_EQ(S_OK, result);
        EXPECT_EQ(3, owner.Count());
        ASSERT_NE(nullptr, copy.pbFormat);
        EXPECT_NE(source.pbFormat, copy.pbFormat);
        EXPECT_TRUE(m_Spy.Owns(copy.pbFormat));
        EXPECT_EQ(0, memcmp(SampleBlock, copy.pbFormat, sizeof(SampleBlock)));
        EXPECT_EQ(1234u, copy.lSampleSize);
        EXPECT_EQ(TRUE, copy.bTemporalCompression);
        EXPECT_TRUE(copy.Equals(source));

        // Changing the copy's block leaves the source alone.
        copy.pbFormat[0] = 99;
        EXPECT_EQ(1, source.pbFormat[0]);

        MediaTypeRecord second(copy);
        EXPECT_EQ(4, owner.Count());
        EXPECT_NE(copy.pbFormat, second.pbFormat);
    }
    EXPECT_EQ(2, owner.Count());
    ReleaseTypeRecord(source);
    EXPECT_EQ(1, owner.Count());
}

TEST_F(MediaTypeRecordTest, CopyWithoutBlockNeverSharesTheSourcePointer)
{
    AM_MEDIA_TYPE source = {};
    source.majortype = MEDIATYPE_Video;
    source.cbFormat = 0;
    source.pbFormat = const_cast<BYTE*>(SampleBlock);  // stale pointer left behind by its owner
    MediaTypeRecord copy(source);
    EXPECT_EQ(0u, copy.cbFormat);
    EXPECT_EQ(nullptr, copy.pbFormat);

    AM_MEDIA_TYPE raw;
    memset(&raw, 0xCD, sizeof(raw));
    ASSERT_EQ(S_OK, CopyTypeRecord(&raw, source));
    EXPECT_EQ(nullptr, raw.pbFormat);
}

TEST_F(MediaTypeRecordTest, AssignReplacesAndReleasesTheOldContents)
{
    CountedUnknown oldOwner;
    CountedUnknown newOwner;
    MediaTypeRecord record;
    FillVideo(record);
    record.pUnk = &oldOwner;
    oldOwner.AddRef();

    const BYTE otherBlock[] = {42, 43};
    MediaTypeRecord source;
    FillVideo(source, otherBlock, sizeof(otherBlock));
    source.subtype = MEDIASUBTYPE_RGB32;
    source.pUnk = &newOwner;
    newOwner.AddRef();

    EXPECT_EQ(S_OK, record.Assign(source));
    EXPECT_EQ(1, oldOwner.Count());
    EXPECT_EQ(3, newOwner.Count());
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB32, record.subtype));
    ASSERT_EQ(2u, record.cbFormat);
    EXPECT_EQ(42, record.pbFormat[0]);
    EXPECT_EQ(2u, m_Spy.Outstanding());

    record = MediaTypeRecord();
    EXPECT_EQ(2, newOwner.Count());
    EXPECT_EQ(nullptr, record.pbFormat);
    ReleaseTypeRecord(source);
}

TEST_F(MediaTypeRecordTest, AssigningARecordToItselfChangesNothing)
{
    CountedUnknown owner;
    MediaTypeRecord record;
    FillVideo(record);
    record.pUnk = &owner;
    owner.AddRef();
    BYTE* block = record.pbFormat;

    EXPECT_EQ(S_OK, record.Assign(record));
    MediaTypeRecord& alias = record;
    record = alias;
    EXPECT_EQ(block, record.pbFormat);
    EXPECT_EQ(2, owner.Count());
    EXPECT_EQ(0, memcmp(SampleBlock, record.pbFormat, sizeof(SampleBlock)));
    ReleaseTypeRecord(record);
    EXPECT_EQ(1, owner.Count());
}

TEST_F(MediaTypeRecordTest, ReleasingTwiceIsHarmless)
{
    CountedUnknown owner;
    MediaTypeRecord record;
    FillVideo(record);
    record.pUnk = &owner;
    owner.AddRef();
    ReleaseTypeRecord(record);
    ReleaseTypeRecord(record);
    EXPECT_EQ(1, owner.Count());
    EXPECT_EQ(0u, record.cbFormat);
    EXPECT_EQ(nullptr, record.pbFormat);
    EXPECT_EQ(nullptr, record.pUnk);
    // The type itself stays.
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, record.majortype));
}

TEST_F(MediaTypeRecordTest, CloneLivesInTaskMemoryAndDeleteFreesAll)
{
    CountedUnknown owner;
    MediaTypeRecord source;
    FillVideo(source);
    source.pUnk = &owner;
    owner.AddRef();

    AM_MEDIA_TYPE* clone = CloneTypeRecord(source);
    ASSERT_NE(nullptr, clone);
    EXPECT_TRUE(m_Spy.Owns(clone));
    EXPECT_TRUE(m_Spy.Owns(clone->pbFormat));
    EXPECT_EQ(3, owner.Count());
    EXPECT_TRUE(source.Equals(*clone));

    DeleteTypeRecord(clone);
    EXPECT_EQ(2, owner.Count());
    EXPECT_EQ(1u, m_Spy.Outstanding());
    DeleteTypeRecord(nullptr);
    ReleaseTypeRecord(source);
}

TEST_F(MediaTypeRecordTest, FailedCopiesOwnNothing)
{
    CountedUnknown owner;
    MediaTypeRecord source;
    FillVideo(source);
    source.pUnk = &owner;
    owner.AddRef();

    m_Spy.FailNextAllocations(1);
    HRESULT result = S_OK;
    MediaTypeRecord copy(source, &result);
    EXPECT_EQ(E_OUTOFMEMORY, result);
    EXPECT_EQ(0u, copy.cbFormat);
    EXPECT_EQ(nullptr, copy.pbFormat);
    EXPECT_EQ(nullptr, copy.pUnk);
    EXPECT_EQ(2, owner.Count());

    // The record can be assigned again after a failure.
    m_Spy.FailNextAllocations(1);
    EXPECT_EQ(E_OUTOFMEMORY, copy.Assign(source));
    EXPECT_EQ(nullptr, copy.pUnk);
    EXPECT_EQ(S_OK, copy.Assign(source));
    EXPECT_TRUE(copy.Equals(source));
    EXPECT_EQ(3, owner.Count());

    // Clone: failing either the record or its block gives null and leaks nothing.
    for (int skip = 0; skip <= 1; ++skip) {
        const size_t before = m_Spy.Outstanding();
        m_Spy.FailNextAllocations(1, skip);
        EXPECT_EQ(nullptr, CloneTypeRecord(source)) << "allocations let through: " << skip;
        EXPECT_EQ(before, m_Spy.Outstanding());
    }
    EXPECT_EQ(3, owner.Count());
    ReleaseTypeRecord(copy);
    ReleaseTypeRecord(source);
}

TEST_F(MediaTypeRecordTest, EqualityIgnoresSamplePropertiesAndOwner)
{
    CountedUnknown owner;
    MediaTypeRecord base;
    FillVideo(base);

    struct Case {
        const char* name;
        void (*change)(MediaTypeRecord&);
        bool equal;
    };
    const Case cases[] = {
        {"same", [](MediaTypeRecord&) {}, true},
        {"sample size", [](MediaTypeRecord& r) { r.lSampleSize = 77; }, true},
        {"fixed size", [](MediaTypeRecord& r) { r.bFixedSizeSamples = FALSE; }, true},
        {"temporal", [](MediaTypeRecord& r) { r.bTemporalCompression = TRUE; }, true},
        {"major", [](MediaTypeRecord& r) { r.majortype = MEDIATYPE_Audio; }, false},
        {"sub", [](MediaTypeRecord& r) { r.subtype = MEDIASUBTYPE_RGB32; }, false},
        {"format type", [](MediaTypeRecord& r) { r.formattype = FORMAT_VideoInfo2; }, false},
        {"last byte", [](MediaTypeRecord& r) { r.pbFormat[r.cbFormat - 1] ^= 0xFF; }, false},
        {"first byte", [](MediaTypeRecord& r) { r.pbFormat[0] ^= 0xFF; }, false},
        {"shorter", [](MediaTypeRecord& r) { FillVideo(r, SampleBlock, sizeof(SampleBlock) - 1); }, false},
        {"no block", [](MediaTypeRecord& r) { FillVideo(r, nullptr, 0); }, false},
    };
    for (const Case& c : cases) {
        MediaTypeRecord other(base);
        c.change(other);
        EXPECT_EQ(c.equal, base.Equals(other)) << c.name;
        EXPECT_EQ(c.equal, other.Equals(base)) << c.name;
    }

    MediaTypeRecord withOwner(base);
    withOwner.pUnk = &owner;
    owner.AddRef();
    EXPECT_TRUE(base.Equals(withOwner));
    ReleaseTypeRecord(withOwner);

    // Two records without blocks compare equal whatever stale pointers they hold.
    AM_MEDIA_TYPE left = {}, right = {};
    left.pbFormat = reinterpret_cast<BYTE*>(&left);
    right.pbFormat = reinterpret_cast<BYTE*>(&right);
    EXPECT_TRUE(MediaTypeRecord(left).Equals(right));
}

TEST_F(MediaTypeRecordTest, PartialWhenMajorOrFormatTypeIsMissing)
{
    struct Case {
        GUID major, sub, format;
        bool partial;
    };
    const Case cases[] = {
        {MEDIATYPE_Video, MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, false},
        {MEDIATYPE_Video, GUID_NULL, FORMAT_VideoInfo, false},
        {GUID_NULL, MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, true},
        {MEDIATYPE_Video, MEDIASUBTYPE_RGB24, GUID_NULL, true},
        {GUID_NULL, GUID_NULL, GUID_NULL, true},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        MediaTypeRecord record;
        record.majortype = cases[i].major;
        record.subtype = cases[i].sub;
        record.formattype = cases[i].format;
        EXPECT_EQ(cases[i].partial, record.IsPartial()) << "case " << i;
    }
}

TEST_F(MediaTypeRecordTest, PatternMatching)
{
    MediaTypeRecord full;
    FillVideo(full);
    MediaTypeRecord fullNoBlock;
    FillVideo(fullNoBlock, nullptr, 0);

    const BYTE otherBlock[sizeof(SampleBlock)] = {1, 2, 3};
    struct Case {
        const char* name;
        GUID major, sub, format;
        const BYTE* block;
        ULONG size;
        bool matchesFull, matchesNoBlock;
    };
    const Case cases[] = {
        {"all wildcards", GUID_NULL, GUID_NULL, GUID_NULL, nullptr, 0, true, true},
        {"major only", MEDIATYPE_Video, GUID_NULL, GUID_NULL, nullptr, 0, true, true},
        {"other major", MEDIATYPE_Audio, GUID_NULL, GUID_NULL, nullptr, 0, false, false},
        {"sub only", GUID_NULL, MEDIASUBTYPE_RGB24, GUID_NULL, nullptr, 0, true, true},
        {"other sub", MEDIATYPE_Video, MEDIASUBTYPE_RGB32, GUID_NULL, nullptr, 0, false, false},
        {"format wildcard ignores block", MEDIATYPE_Video, MEDIASUBTYPE_RGB24, GUID_NULL, otherBlock,
         sizeof(otherBlock), true, true},
        {"other format type", GUID_NULL, GUID_NULL, FORMAT_VideoInfo2, nullptr, 0, false, false},
        {"format type, no block", GUID_NULL, GUID_NULL, FORMAT_VideoInfo, nullptr, 0, false, true},
        {"same block", GUID_NULL, GUID_NULL, FORMAT_VideoInfo, SampleBlock, sizeof(SampleBlock), true, false},
        {"other block", GUID_NULL, GUID_NULL, FORMAT_VideoInfo, otherBlock, sizeof(otherBlock), false, false},
        {"shorter block", GUID_NULL, GUID_NULL, FORMAT_VideoInfo, SampleBlock, 4, false, false},
    };
    for (const Case& c : cases) {
        MediaTypeRecord pattern;
        pattern.majortype = c.major;
        pattern.subtype = c.sub;
        FillVideo(pattern, c.block, c.size);
        pattern.majortype = c.major;
        pattern.subtype = c.sub;
        pattern.formattype = c.format;
        EXPECT_EQ(c.matchesFull, full.MatchesPattern(pattern)) << c.name;
        EXPECT_EQ(c.matchesNoBlock, fullNoBlock.MatchesPattern(pattern)) << c.name;
    }
}
