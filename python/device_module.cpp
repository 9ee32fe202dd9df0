// _quorlax_device: the sound-device layer for the quorlax Python package.
// Every wait on a device runs without the GIL; Ctrl-C is looked at between waits.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "quorlax_device.h"

namespace py = pybind11;
namespace qd = quorlax_device;

namespace {

py::dict Describe(const qd::DeviceInfo& d) {
  py::dict out;
  out["index"] = d.index;
  out["name"] = d.name;
  out["description"] = d.description;
  out["host"] = d.host;
  out["input_channels"] = d.input_channels;
  out["output_channels"] = d.output_channels;
  out["default_rate"] = d.default_rate;
  out["default_input"] = d.default_input;
  out["default_output"] = d.default_output;
  out["server_default"] = d.server_default;
  return out;
}

py::list Devices() {
  std::unique_ptr<qd::Session> session;
  {
    py::gil_scoped_release nogil;
    session.reset(new qd::Session);
  }
  py::list out;
  for (const qd::DeviceInfo& d : session->Devices()) out.append(Describe(d));
  py::gil_scoped_release nogil;
  session.reset();
  return out;
}

// The device that play (input false) or Capture (input true) would open for
// `device`, found by the rule the program uses: the default, an index, a whole
// name, or the one device whose name or description contains it.
py::dict Find(const std::string& device, bool input) {
  std::unique_ptr<qd::Session> session;
  {
    py::gil_scoped_release nogil;
    session.reset(new qd::Session);
  }
  py::dict out = Describe(session->Find(device, input));
  py::gil_scoped_release nogil;
  session.reset();
  return out;
}

// Plays on a worker thread so that this one can take Ctrl-C.
void Play(py::array_t<float, py::array::c_style | py::array::forcecast> samples, int rate,
          const std::string& device, int repeat, double gap_seconds) {
  if (samples.ndim() != 1) throw py::value_error("samples must be one-dimensional");
  if (rate <= 0) throw py::value_error("rate must be positive");
  if (repeat < 1 || repeat > qd::kMaxRepeat) throw py::value_error("repeat is out of range");
  if (!(gap_seconds >= 0.0 && gap_seconds <= qd::kMaxGapSeconds)) throw py::value_error("gap is out of range");
  const float* data = samples.data();
  const size_t count = static_cast<size_t>(samples.size());
  const size_t gap = static_cast<size_t>(gap_seconds * rate);
  std::atomic<bool> stop{false}, done{false};
  std::exception_ptr failure;
  bool interrupted = false;
  {
    py::gil_scoped_release nogil;
    std::thread worker([&] {
      try {
        qd::Session session;
        qd::Play(session, session.Find(device, false), data, count, rate, &stop, repeat, gap);
      } catch (...) {
        failure = std::current_exception();
      }
      done.store(true);
    });
    while (!done.load() && !interrupted) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      py::gil_scoped_acquire gil;
      interrupted = PyErr_CheckSignals() != 0;  // the exception stays set for below
    }
    stop.store(true);
    worker.join();
  }
  if (interrupted) throw py::error_already_set();
  if (failure) std::rethrow_exception(failure);
}

// A capture together with the session that must outlive it.
class Capture {
 public:
  Capture(const std::string& device, int rate, double ring_seconds) {
    py::gil_scoped_release nogil;
    session_.reset(new qd::Session);
    capture_.reset(new qd::Capture(*session_, session_->Find(device, true), rate, ring_seconds));
  }
  ~Capture() { Close(); }

  py::array_t<float> Read(size_t max, double timeout_s) {
    Check();
    py::array_t<float> out(static_cast<py::ssize_t>(max));
    float* p = out.mutable_data();
    size_t n;
    {
      py::gil_scoped_release nogil;
      n = capture_->Read(p, max, timeout_s);
    }
    out.resize({static_cast<py::ssize_t>(n)});
    return out;
  }
  int Rate() { return Check().Rate(); }
  double Latency() { return Check().InputLatency(); }
  std::string Name() { return Check().DeviceName(); }
  int64_t Delivered() { return Check().Delivered(); }
  int64_t TakeOverflow(bool flush) { return Check().TakeOverflow(flush); }
  void Close() {
    py::gil_scoped_release nogil;
    capture_.reset();
    session_.reset();
  }
  bool Closed() const { return !capture_; }

 private:
  qd::Capture& Check() {
    if (!capture_) throw py::value_error("the capture is closed");
    return *capture_;
  }
  std::unique_ptr<qd::Session> session_;
  std::unique_ptr<qd::Capture> capture_;
};

}  // namespace

PYBIND11_MODULE(_quorlax_device, m) {
  m.doc() = "Sound devices through PortAudio, for the quorlax package";
  py::register_exception<qd::DeviceError>(m, "DeviceError", PyExc_OSError);
  m.def("devices", &Devices, "Input and output devices as dicts.");
  m.def("find", &Find, py::arg("device"), py::arg("input"),
        "The device (a dict as devices() gives) that play or Capture would open for `device`.");
  m.def("play", &Play, py::arg("samples"), py::arg("rate"), py::arg("device") = "default", py::arg("repeat") = 1,
        py::arg("gap") = 0.0,
        "Plays mono float32 samples `repeat` times, `gap` seconds apart, and returns once they have been played.");
  m.attr("MAX_REPEAT") = qd::kMaxRepeat;
  m.attr("MAX_GAP_SECONDS") = qd::kMaxGapSeconds;
  py::class_<Capture>(m, "Capture")
      .def(py::init<const std::string&, int, double>(), py::arg("device") = "default", py::arg("rate") = 0,
           py::arg("ring_seconds") = 8.0)
      .def("read", &Capture::Read, py::arg("max"), py::arg("timeout"),
           "Up to max samples, waiting at most timeout seconds for the first.")
      .def("take_overflow", &Capture::TakeOverflow, py::arg("flush") = false,
           "Samples lost in an overflow burst that has ended (all pending ones when flush), else 0.")
      .def("close", &Capture::Close)
      .def_property_readonly("closed", &Capture::Closed)
      .def_property_readonly("rate", &Capture::Rate)
      .def_property_readonly("input_latency", &Capture::Latency)
      .def_property_readonly("device", &Capture::Name)
      .def_property_readonly("delivered", &Capture::Delivered);
}
