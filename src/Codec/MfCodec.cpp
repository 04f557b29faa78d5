#include "MfCodec.h"

#include "CodecReport.h"
#include "CodecTable.h"
#include "Exception.h"
#include "MfCodecBase.h"
#include "Util/Logger.h"

#include <vector>

namespace kiv::mfcodec {

namespace {

int Part(std::uint64_t version, int index) {
    return static_cast<int>((version >> (48 - 16 * index)) & 0xFFFF);
}

bool TypesMatch(const EncoderQuery& query, std::uint32_t count, const MFT_REGISTER_TYPE_INFO* types,
                const GUID& subtype) {
    if (count == 0)
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const bool majorFits = query.majorType == GUID_NULL || types[i].guidMajorType == query.majorType;
        if (majorFits && (subtype == GUID_NULL || types[i].guidSubtype == subtype))
            return true;
    }
    return false;
}

bool Offered(const RegistrationInfo& info, const EncoderQuery& query) {
    return info.isSane() && (query.category == GUID_NULL || query.category == info.category) &&
           TypesMatch(query, info.inputCount, info.inputTypes, query.inputSubtype) &&
           TypesMatch(query, info.outputCount, info.outputTypes, query.outputSubtype) &&
           (query.deviceVendor == 0 || info.vendorId == 0 || query.deviceVendor == info.vendorId) &&
           info.disabled == 0;
}

// Creates the entry's transform and describes it; throws what creation throws.
EncoderInfo Describe(const RegistrationInfo& info, const EncoderQuery& query) {
    ComPtr<Base> codec;
    info.create(codec, query);
    KIV_THROW_UNLESS(codec);
    EncoderInfo outfo;
    KIV_THROW_IF_FAILED(codec->QueryInterface(IID_PPV_ARGS(&outfo.mft)));
    KIV_THROW_IF_FAILED(outfo.mft->GetAttributes(&outfo.attrib));
    outfo.name = info.friendlyName;
    for (std::uint32_t i = 0; i < info.inputCount; ++i)
        outfo.inputs.push_back(info.inputTypes[i].guidSubtype);
    outfo.output = query.outputSubtype;
    outfo.vendorId = info.vendorId;
    outfo.async = true;
    outfo.hardware = info.isHardware != 0;
    outfo.d3d11Aware = true;
    return outfo;
}

} // namespace

const RegistrationInfo* GetStaticCodecInfo(unsigned int index) {
    static const std::vector<RegistrationInfo> table = [] {
        std::vector<RegistrationInfo> entries = CodecTable();
        for (const RegistrationInfo& entry : entries) {
            const bool sane = entry.isSane();
            KIV_ASSERT(sane);
        }
        return entries;
    }();
    return index < table.size() ? &table[index] : nullptr;
}

const RegistrationInfo& RegistrationOf(RegistrationInfo::CreateFunction create) {
    for (unsigned index = 0; const RegistrationInfo* info = GetStaticCodecInfo(index); ++index)
        if (info->create == create)
            return *info;
    throw Exception(0, __LINE__, "registration entry of the class", __PRETTY_FUNCTION__, __FILE__);
}

void EnumerateCustomCodecs(const EncoderQuery& query, const CodecCallback& callback) {
    std::vector<RegistrationInfo> table;
    for (unsigned index = 0; const RegistrationInfo* info = GetStaticCodecInfo(index); ++index)
        table.push_back(*info);
    EnumerateCodecs(table, query, callback);
}

void EnumerateCodecs(std::span<const RegistrationInfo> table, const EncoderQuery& query,
                     const CodecCallback& callback) {
    for (const RegistrationInfo& info : table) {
        if (!Offered(info, query))
            continue;
        if (query.driverVersion < info.minDriverVersion) {
            const std::uint64_t min = info.minDriverVersion;
            const std::uint64_t found = query.driverVersion;
            LogWarn(
                "Codec '%S' skipped because of driver version; minimum required was %d.%d.%d.%d, but found "
                "%d.%d.%d.%d",
                info.friendlyName, Part(min, 0), Part(min, 1), Part(min, 2), Part(min, 3), Part(found, 0),
                Part(found, 1), Part(found, 2), Part(found, 3));
            continue;
        }
        try {
            if (!callback(Describe(info, query)))
                return;
        } catch (const std::exception& e) {
            LogError("Error enumerating custom codec \"%S\": %s; skipping...", info.friendlyName, e.what());
        } catch (...) {
            LogError("Unknown error in enumerating custom codec \"%S\"; skipping...", info.friendlyName);
        }
    }
}

} // namespace kiv::mfcodec
