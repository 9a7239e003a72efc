#pragma once

// The maker's and the distributor's particulars, as the About text and the
// calibration record show them.

namespace company
{

inline constexpr char kMakerName[] = "Orvane Incorporated";
inline constexpr char kMakerShortName[] = "Orvane Inc.";
inline constexpr char kMakerPhone[] = "1-555-014-2290";
inline constexpr char kMakerStreet[] = "2200 Larkspur Industrial Way";
inline constexpr char kMakerTown[] = "Fernhollow, OR 97000";
inline constexpr char kMakerWeb[] = "www.orvane.example";
inline constexpr char kMakerSalesEmail[] = "sales@orvane.example";
inline constexpr char kDistributorTown[] = "Ashcombe AB1 2CD";
inline constexpr char kDistributorWeb[] = "www.quillmere.example";

} // namespace company
