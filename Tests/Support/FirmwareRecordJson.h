#pragma once

#include <string>

/** One record of the service's firmware list, as the service writes it; its notes name the release. */
inline std::string firmwareRecordJson (const std::string& version, bool withMd5 = true)
{
    return R"({"brand": "harvellon", "family": "kestrova", "model": "kestrovalx", "version": ")" + version
         + R"(", "updatedAt": "2026-10-01T12:00:00Z", "createdAt": "2026-09-30T08:15:00Z",)"
         + R"( "binary": "https://files.example.com/lx/)" + version + R"(.syx",)"
         + (withMd5 ? R"( "md5": "9e107d9d372bb6826bd81d3542a419d6",)" : "")
         + R"( "bytes": 34800, "notes": "Release )" + version + R"("})";
}
