#pragma once
// The codec library's transforms as the encoder search sees them: a fixed table of registration records,
// never registered with the system, offered for a query through EnumerateCustomCodecs.

#include "EncoderQuery.h"
#include "RegistrationInfo.h"

#include <functional>
#include <span>

namespace kiv::mfcodec {

using CodecCallback = std::function<bool(EncoderInfo&&)>;

// Entry `index` of the table, or null past its end. The first call builds the table and ends the process
// when an entry is not sane (a build defect).
const RegistrationInfo* GetStaticCodecInfo(unsigned int index);

// Creates each entry that fits the query's category, types, vendor and driver version and hands it to the
// callback until that returns false. An entry that fails is logged and skipped.
void EnumerateCustomCodecs(const EncoderQuery& query, const CodecCallback& callback);
// The table's entry whose creation function is `create`; throws kiv::mfcodec::Exception when none is.
const RegistrationInfo& RegistrationOf(RegistrationInfo::CreateFunction create);
// The same over another table.
void EnumerateCodecs(std::span<const RegistrationInfo> table, const EncoderQuery& query,
                     const CodecCallback& callback);

} // namespace kiv::mfcodec
