// quorlax._native: the Python package's own way into the library. It prints
// nothing and lets other Python threads run while it works.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ZunCoreLib_api.h"

namespace py = pybind11;

namespace {

using FloatArray = py::array_t<float, py::array::c_style | py::array::forcecast>;

// A handle's configuration, its custom grid and the synth volume are
// process-wide: one thread at a time sets them up (listeners and queries
// need no lock).
std::mutex g_settings;

struct Handle {
  void* h = QUORLAX_Create();
  ~Handle() { QUORLAX_Destroy(h); }
};

py::array_t<float> ToArray(std::vector<float>&& v) {
  auto* owned = new std::vector<float>(std::move(v));
  py::capsule free_when_done(owned, [](void* p) { delete static_cast<std::vector<float>*>(p); });
  return py::array_t<float>({static_cast<py::ssize_t>(owned->size())}, {sizeof(float)}, owned->data(),
                            free_when_done);
}

// One transmission as float32 samples, or the library's negative code and
// the step that gave it ("configure", "custom", "volume", "encode").
py::object Encode(const std::string& message, int mode, double rate, int type, const std::string& melody,
                  std::optional<float> volume_db, float base_hz, int separation) {
  constexpr int kBuffer = 4096;
  std::vector<float> audio;
  int code = 0;
  const char* step = "";
  {
    py::gil_scoped_release free_python;
    Handle handle;
    if (handle.h == nullptr) throw std::bad_alloc();
    {
      std::lock_guard<std::mutex> lock(g_settings);
      if (mode == QUORLAX_MODE_CUSTOM && (code = QUORLAX_SetCustomBaseFreq(base_hz, separation, handle.h)) != 0) {
        step = "custom";
      } else if ((code = QUORLAX_Configure(mode, static_cast<float>(rate), kBuffer, handle.h)) != 0) {
        step = "configure";
      } else if (volume_db && (code = QUORLAX_SetSynthVolume(*volume_db, handle.h)) != 0) {
        step = "volume";
      }
    }
    if (code == 0) {
      const int n = QUORLAX_EncodeDataToAudioBuffer(message.data(), static_cast<int32_t>(message.size()), type,
                                                    melody.empty() ? nullptr : melody.data(),
                                                    static_cast<int32_t>(melody.size()), handle.h);
      if (n < 0) {
        code = n;
        step = "encode";
      } else {
        audio.resize(static_cast<size_t>(n) + kBuffer);
        size_t at = 0;
        int got;
        while ((got = QUORLAX_GetEncodedAudioBuffer(audio.data() + at, handle.h)) > 0) at += static_cast<size_t>(got);
        if (got < 0) {
          code = got;
          step = "encode";
        }
        audio.resize(at);
      }
    }
  }
  if (code != 0) return py::make_tuple(code, step);
  return ToArray(std::move(audio));
}

// A refusal from the library: its code and what was being done.
struct LibraryError {
  int code;
  std::string what;
};

// Facts of one band at one rate, or None when it does not fit there.
py::object BandInfo(int mode, double rate, float base_hz, int separation) {
  QUORLAX_BandInfoEx info;
  info.size = sizeof info;
  const int r = QUORLAX_GetBandInfoEx(mode, static_cast<float>(rate), base_hz, separation, &info);
  if (r == QUORLAX_ERROR_UNSUPPORTED) return py::none();
  if (r != 0) throw LibraryError{r, "band"};
  py::dict d;
  d["mode"] = info.mode;
  d["name"] = std::string(info.name);
  py::tuple tones(info.num_tones);
  for (int i = 0; i < info.num_tones; ++i) tones[i] = info.tone_hz[i];
  d["tones"] = tones;
  d["shift_hz"] = info.shift_hz;
  d["low_hz"] = info.low_hz;
  d["high_hz"] = info.high_hz;
  return std::move(d);
}

// What a mode is at a rate (a dict); LibraryError where it does not work.
py::dict ModeInfo(int mode, double rate, float base_hz, int separation) {
  QUORLAX_ModeInfo info;
  info.size = sizeof info;
  const int r = QUORLAX_GetModeInfo(mode, static_cast<float>(rate), base_hz, separation, &info);
  if (r != 0) throw LibraryError{r, "mode"};
  py::dict d;
  d["name"] = std::string(info.name);
  d["sends"] = info.sends;
  d["hears"] = std::vector<int>(info.hears, info.hears + info.num_hears);
  d["token_samples"] = info.token_samples;
  d["transmission_samples"] = info.transmission_samples;
  d["max_encoded_samples"] = info.max_encoded_samples;
  d["low_hz"] = info.low_hz;
  d["high_hz"] = info.high_hz;
  return d;
}

// Every mode as (value, name), in the library's order.
std::vector<std::pair<int, std::string>> Modes() {
  int modes[16];
  const int n = std::min(QUORLAX_GetModes(modes, 16), 16);
  std::vector<std::pair<int, std::string>> out;
  for (int i = 0; i < n; ++i) out.emplace_back(modes[i], QUORLAX_GetModeName(modes[i]));
  return out;
}

std::vector<int> SampleRates() {
  float rates[16];
  const int n = std::min(QUORLAX_GetSampleRates(rates, 16), 16);
  std::vector<int> out;
  for (int i = 0; i < n; ++i) out.push_back(static_cast<int>(rates[i]));
  return out;
}

// The custom bases that fit at a rate: (low, high) in Hz, or None.
py::object CustomBaseRange(double rate, int separation) {
  float low = 0.0f, high = 0.0f;
  const int r = QUORLAX_GetCustomBaseRange(static_cast<float>(rate), separation, &low, &high);
  if (r == QUORLAX_ERROR_UNSUPPORTED) return py::none();
  if (r != 0) throw LibraryError{r, "custom grid"};
  return py::make_tuple(low, high);
}

// The library's listener: any count of samples in, whole messages out as
// (text, ok, band mode, start sample, end sample, level dB, confidence).
class Listener {
 public:
  Listener(int mode, double rate, float base_hz, int separation, bool report_failed) {
    QUORLAX_ListenerConfig config;
    QUORLAX_ListenerConfigInit(&config, mode, static_cast<float>(rate));
    config.custom_base_hz = base_hz;
    config.custom_separation = separation;
    config.report_failed = report_failed ? 1 : 0;
    int error = 0;
    listener_ = QUORLAX_ListenerCreateEx(&config, &error);
    if (listener_ == nullptr) throw LibraryError{error, mode == QUORLAX_MODE_CUSTOM ? "custom grid" : "listener"};
  }
  ~Listener() { QUORLAX_ListenerDestroy(listener_); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  py::list Push(FloatArray x) {
    if (x.ndim() != 1) throw py::value_error("expected a 1-D array of samples");
    std::vector<QUORLAX_MessageEx> got;
    {
      py::gil_scoped_release free_python;
      const float* p = x.data();
      for (py::ssize_t left = x.shape(0); left > 0;) {
        const int n = static_cast<int>(std::min<py::ssize_t>(left, 1 << 20));
        QUORLAX_ListenerPush(listener_, p, n);
        Take(&got);
        p += n;
        left -= n;
      }
    }
    return Messages(got);
  }

  py::list Flush() {
    std::vector<QUORLAX_MessageEx> got;
    {
      py::gil_scoped_release free_python;
      QUORLAX_ListenerFlush(listener_);
      Take(&got);
    }
    return Messages(got);
  }

 private:
  void Take(std::vector<QUORLAX_MessageEx>* got) {
    QUORLAX_MessageEx m;
    m.size = sizeof m;
    while (QUORLAX_ListenerNextEx(listener_, &m) == 1) got->push_back(m);
  }
  static py::list Messages(const std::vector<QUORLAX_MessageEx>& got) {
    py::list out;
    for (const QUORLAX_MessageEx& m : got)
      out.append(py::make_tuple(std::string(m.text), m.ok != 0, m.band, m.start, m.end, m.level_db, m.confidence,
                                m.pitch_offset, m.tempo_offset));
    return out;
  }

  QUORLAX_Listener* listener_ = nullptr;
};

// libsoxr at the quality the quorlax program converts with, streaming.
class Resampler {
 public:
  Resampler(double in_rate, double out_rate, unsigned channels)
      : ratio_(out_rate / in_rate), channels_(channels) {
    if (!(in_rate > 0) || !(out_rate > 0) || !std::isfinite(in_rate) || !std::isfinite(out_rate))
      throw py::value_error("rates must be finite and above 0 Hz");
    if (channels == 0) throw py::value_error("channels must be at least 1");
    soxr_error_t err = nullptr;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_ = soxr_create(in_rate, out_rate, channels, &err, nullptr, &quality, nullptr);
    if (soxr_ == nullptr || err != nullptr) throw std::runtime_error(std::string("soxr: ") + (err ? err : "failed"));
  }
  ~Resampler() { soxr_delete(soxr_); }
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Interleaved frames in, converted frames out (as many as are ready).
  py::array_t<float> Process(FloatArray x) {
    if (done_) throw py::value_error("process() after flush()");
    if ((x.ndim() == 1 && channels_ != 1) || x.ndim() == 0 || x.ndim() > 2 ||
        (x.ndim() == 2 && static_cast<unsigned>(x.shape(1)) != channels_))
      throw py::value_error("expected " + std::to_string(channels_) + " channel(s) of frames");
    const py::ssize_t frames = x.shape(0);
    std::vector<float> out;
    {
      py::gil_scoped_release free_python;
      Run(x.data(), static_cast<size_t>(frames), &out);
    }
    return Shaped(std::move(out));
  }

  // End of stream: what is still inside the filter.
  py::array_t<float> Flush() {
    std::vector<float> out;
    if (!done_) {
      py::gil_scoped_release free_python;
      Run(nullptr, 0, &out);
      done_ = true;
    }
    return Shaped(std::move(out));
  }

 private:
  void Run(const float* in, size_t frames, std::vector<float>* out) {
    size_t used = 0;
    for (;;) {
      const size_t room = static_cast<size_t>(std::ceil((frames - used) * ratio_)) + 256;
      const size_t start = out->size();
      out->resize(start + room * channels_);
      size_t consumed = 0, produced = 0;
      const soxr_error_t err = soxr_process(soxr_, in == nullptr ? nullptr : in + used * channels_, frames - used,
                                            &consumed, out->data() + start, room, &produced);
      if (err != nullptr) throw std::runtime_error(std::string("soxr: ") + err);
      used += consumed;
      out->resize(start + produced * channels_);
      if (produced < room && used == frames) return;
    }
  }
  py::array_t<float> Shaped(std::vector<float>&& out) {
    py::array_t<float> a = ToArray(std::move(out));
    if (channels_ > 1) a = a.reshape({a.shape(0) / static_cast<py::ssize_t>(channels_),
                                      static_cast<py::ssize_t>(channels_)});
    return a;
  }

  soxr_t soxr_ = nullptr;
  double ratio_;
  unsigned channels_;
  bool done_ = false;
};

}  // namespace

PYBIND11_MODULE(_native, m) {
  m.doc() = "The quorlax package's binding: prints nothing, releases the GIL.";
  // LibraryError(code, what): the package turns it into its QuorlaxError classes.
  // Kept for the life of the process (a static py::object would outlive Python).
  static PyObject* library_error = PyErr_NewException("quorlax._native.LibraryError", PyExc_RuntimeError, nullptr);
  m.attr("LibraryError") = py::handle(library_error);
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const LibraryError& e) {
      PyErr_SetObject(library_error, py::make_tuple(e.code, e.what).ptr());
    }
  });
  const float base = QUORLAX_GetDefaultCustomBase();
  const int separation = QUORLAX_GetDefaultCustomSeparation();
  m.def("band_info", &BandInfo, py::arg("mode"), py::arg("rate"), py::arg("base_hz") = base,
        py::arg("separation") = separation, "Facts of a band at a rate (a dict), or None when it does not fit there.");
  m.def("mode_info", &ModeInfo, py::arg("mode"), py::arg("rate"), py::arg("base_hz") = base,
        py::arg("separation") = separation, "What a mode is at a rate (a dict); LibraryError where it does not work.");
  m.def("is_supported", &QUORLAX_IsSupported, py::arg("mode"), py::arg("rate"), py::arg("base_hz") = base,
        py::arg("separation") = separation, "0 when the mode works at the rate, else the library's code.");
  m.def("modes", &Modes, "Every mode as (value, name).");
  m.def("sample_rates", &SampleRates, "The rates the library analyses at.");
  m.def("custom_base_range", &CustomBaseRange, py::arg("rate"), py::arg("separation"),
        "The custom bases that fit at a rate, (low, high) Hz, or None.");
  m.attr("ALPHABET") = std::string(QUORLAX_GetAlphabet());
  m.attr("MESSAGE_LENGTH") = QUORLAX_MESSAGE_LENGTH;
  m.attr("MAX_SEPARATION") = QUORLAX_MAX_CUSTOM_SEPARATION;
  m.attr("DEFAULT_BASE_HZ") = base;
  m.attr("DEFAULT_SEPARATION") = separation;
  m.attr("VERSION") = std::string(QUORLAX_GetVersionNumber());
  m.attr("ERROR_INVALID_ARGUMENT") = QUORLAX_ERROR_INVALID_ARGUMENT;
  m.attr("ERROR_NOT_CONFIGURED") = QUORLAX_ERROR_NOT_CONFIGURED;
  m.attr("ERROR_BUFFER_FULL") = QUORLAX_ERROR_BUFFER_FULL;
  m.attr("ERROR_UNSUPPORTED") = QUORLAX_ERROR_UNSUPPORTED;
  m.attr("ERROR_OUT_OF_MEMORY") = QUORLAX_ERROR_OUT_OF_MEMORY;
  py::class_<Listener>(m, "Listener", "The library's listener; push() and flush() return whole messages.")
      .def(py::init<int, double, float, int, bool>(), py::arg("mode"), py::arg("rate"), py::arg("base_hz") = base,
           py::arg("separation") = separation, py::arg("report_failed") = false)
      .def("push", &Listener::Push, py::arg("samples"))
      .def("flush", &Listener::Flush);
  m.def("version", [] { return std::string(QUORLAX_GetVersion()); });
  m.def("error_text", [](int code) { return std::string(QUORLAX_GetErrorText(code)); }, py::arg("code"));
  m.attr("SYNTH_VOLUME_MIN_DB") = QUORLAX_SYNTH_VOLUME_MIN_DB;
  m.attr("SYNTH_VOLUME_MAX_DB") = QUORLAX_SYNTH_VOLUME_MAX_DB;
  m.def("encode", &Encode, py::arg("message"), py::arg("mode"), py::arg("rate"), py::arg("type") = 0,
        py::arg("melody") = "", py::arg("volume_db") = std::nullopt, py::arg("base_hz") = base,
        py::arg("separation") = separation,
        "One transmission as float32 samples, or (code, step) when the library refused.");
  py::class_<Resampler>(m, "Resampler", "Streaming libsoxr conversion at the quorlax program's quality.")
      .def(py::init<double, double, unsigned>(), py::arg("in_rate"), py::arg("out_rate"), py::arg("channels") = 1)
      .def("process", &Resampler::Process, py::arg("frames"))
      .def("flush", &Resampler::Flush);
}
