#pragma once
// Units declared by an exchange file: the length and plane-angle units of its geometric
// representation context (GLOBAL_UNIT_ASSIGNED_CONTEXT), as SI units with an optional
// prefix or as conversion-based units (an inch is 25.4 millimetres, a degree pi/180
// radians).

#include <string>

#include "io/step/step_file.hpp"

/// How a unit of one kind was found.
enum class StepUnitRead { Declared, Undeclared, Invalid };

/// The file's length unit in metres. Undeclared when no context assigns a length unit;
/// Invalid (with `error`) when the unit it assigns cannot be understood.
StepUnitRead readLengthUnitMetres(const StepFile& file, double& metres, std::string& error);

/// The file's plane-angle unit in radians, as readLengthUnitMetres.
StepUnitRead readAngleUnitRadians(const StepFile& file, double& radians, std::string& error);

/// The size of a unit named in a job, in metres: "m", "mm", "cm" or "inch". False for any
/// other name.
bool jobLengthUnitMetres(const std::string& name, double& metres);
