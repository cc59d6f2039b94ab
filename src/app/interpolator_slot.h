// The model application's view of one meteorological interpolator: what the
// construction, the time loop, the interruption menu and the clearing call on
// it. The interpolator module is wrapped in it where the application builds
// it; tests put fakes in its place to drive the loop through several steps.
#pragma once

namespace velmo {

class meteointerpol;

class interpolator_slot {
 public:
  virtual ~interpolator_slot() = default;

  // Date of the current input record.
  virtual void GetCurrentDate(int& minute, int& hour, int& day, int& month, int& year) = 0;
  // Interpolation method, 1..12; 10 and 11 fit a station regression per step.
  virtual int InterpolationMethod() = 0;
  virtual void ComputeStationRegression(int flag) = 0;
  virtual void InterpolateStep(int minute, int hour, int day, int month, int year) = 0;
  virtual void WriteOutputs() = 0;
  virtual void ReadNextRecord() = 0;
  virtual bool IsEndOfData() = 0;
  // Whether the input ends with the current record before the end date (the
  // run then ends with this step); the interpolator logs its WARNING.
  virtual bool InputEndsWithCurrentRecord() { return false; }
  // Makes the current record the last one (cancel after the current step).
  virtual void SetEndDateToCurrent() = 0;
  virtual void FlushBuffers() = 0;
  virtual void CleanUp() = 0;
  // The interpolator itself, for the modules that take interpolators (the
  // precipitation correction); none for a stand-in.
  virtual meteointerpol* Interpolator() { return nullptr; }
};

}  // namespace velmo
