#pragma once
// The analytics operations the race work calls on the driver's request and at the pit stop.
// All run on the main thread and read the race state and the telemetry row themselves.

namespace analytics {

// The per-tick session snapshot refresh (and pit-in's, after a higher fuel burn).
void RefreshSessionSnapshot();
// The session-join log line, written when telemetry is first loaded.
void LogSessionJoin();

// All four tires at the baseline pressures corrected for the track temperature; sets
// TiresRequested. Nothing in passive mode or while adaptive tire management is off.
void OrderAdaptiveTires();
// The tire choice of the Tire function on pit road, by TireChangeMode.
void OrderTiresForMode();

// Spoken answers to the driver's functions.
void AdviseTireSets();
void AdviseTrackConditions();
void AdviseTirePressure();
void AdviseStartingFuel();

}  // namespace analytics
