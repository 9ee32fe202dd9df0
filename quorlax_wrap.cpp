// _quorlax: CPython binding of the Quorlax C interface, written by hand.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL quorlax_ARRAY_API
#define NO_IMPORT_ARRAY
#include <numpy/arrayobject.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "ZunCoreLib_api.h"

// Filled by PyInit__quorlax once the table has passed its checks.
void** quorlax_ARRAY_API = nullptr;

namespace {

// ---------------------------------------------------------------------------
// Pointer objects: one C pointer and the C type it points as.

struct CPointer {
  PyObject_HEAD
  void* ptr;
  const char* ctype;  // static string
};

PyTypeObject* gPointerType = nullptr;

const char kVoidPtr[] = "void *";
const char kCharPtr[] = "char *";
const char kFloatPtr[] = "float *";

void Pointer_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  tp->tp_free(self);
  Py_DECREF(tp);  // heap type instances own a reference to their type
}

PyObject* Pointer_repr(PyObject* self) {
  const CPointer* p = reinterpret_cast<CPointer*>(self);
  return PyUnicode_FromFormat("<_quorlax pointer of type '%s' at %p>", p->ctype, p->ptr);
}

Py_hash_t Pointer_hash(PyObject* self) {
  // Low bits of an allocation are mostly zero; rotate them away.
  const uintptr_t v = reinterpret_cast<uintptr_t>(reinterpret_cast<CPointer*>(self)->ptr);
  const Py_hash_t x = static_cast<Py_hash_t>((v >> 4) | (v << (8 * sizeof v - 4)));
  return x == -1 ? -2 : x;
}

PyObject* Pointer_richcompare(PyObject* a, PyObject* b, int op) {
  if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(b, gPointerType)) Py_RETURN_NOTIMPLEMENTED;
  const bool same = reinterpret_cast<CPointer*>(a)->ptr == reinterpret_cast<CPointer*>(b)->ptr;
  return PyBool_FromLong((op == Py_EQ) == same);
}

PyType_Slot kPointerSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(Pointer_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(Pointer_repr)},
    {Py_tp_hash, reinterpret_cast<void*>(Pointer_hash)},
    {Py_tp_richcompare, reinterpret_cast<void*>(Pointer_richcompare)},
    {0, nullptr},
};

PyType_Spec kPointerTypeDesc = {"_quorlax.CPointer", sizeof(CPointer), 0,
                            Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, kPointerSlots};

PyObject* newPointer(void* ptr, const char* ctype) {
  if (ptr == nullptr) Py_RETURN_NONE;
  CPointer* p = PyObject_New(CPointer, gPointerType);
  if (p == nullptr) return nullptr;
  p->ptr = ptr;
  p->ctype = ctype;
  return reinterpret_cast<PyObject*>(p);
}

bool isPointer(PyObject* o) { return PyObject_TypeCheck(o, gPointerType); }

// ---------------------------------------------------------------------------
// Buffer size of every handle configured through this module, so that
// GetEncodedAudioBuffer can refuse arrays the encoder would overrun.
// Guarded by the GIL.
std::unordered_map<void*, int32_t> gBufferSizes;

// ---------------------------------------------------------------------------
// Argument conversion. Each returns false with the exception set.

bool argError(PyObject* exc, const char* fn, int n, const char* ctype) {
  PyErr_Format(exc, "in method '%s', argument %d of type '%s'", fn, n, ctype);
  return false;
}

bool checkCount(const char* fn, Py_ssize_t nargs, Py_ssize_t expected) {
  if (nargs == expected) return true;
  PyErr_Format(PyExc_TypeError, "%s expected %s%d arguments, got %d", fn, "",
               static_cast<int>(expected), static_cast<int>(nargs));
  return false;
}

bool toHandle(PyObject* o, void** out, const char* fn, int n) {
  if (o == Py_None) {
    *out = nullptr;
    return true;
  }
  if (isPointer(o)) {
    *out = reinterpret_cast<CPointer*>(o)->ptr;
    return true;
  }
  PyObject* inner = PyObject_GetAttrString(o, "this");
  if (inner == nullptr) {
    PyErr_Clear();
    return argError(PyExc_TypeError, fn, n, kVoidPtr);
  }
  const bool ok = isPointer(inner);
  if (ok) *out = reinterpret_cast<CPointer*>(inner)->ptr;
  Py_DECREF(inner);
  return ok || argError(PyExc_TypeError, fn, n, kVoidPtr);
}

bool toInt(PyObject* o, int32_t* out, const char* fn, int n, const char* ctype) {
  if (!PyLong_Check(o)) return argError(PyExc_TypeError, fn, n, ctype);
  const long v = PyLong_AsLong(o);
  if (v == -1 && PyErr_Occurred()) {
    PyErr_Clear();
    return argError(PyExc_OverflowError, fn, n, ctype);
  }
  if (v < INT32_MIN || v > INT32_MAX) return argError(PyExc_OverflowError, fn, n, ctype);
  *out = static_cast<int32_t>(v);
  return true;
}

bool toFloat(PyObject* o, float* out, const char* fn, int n) {
  double v;
  if (PyFloat_Check(o)) {
    v = PyFloat_AS_DOUBLE(o);
  } else if (PyLong_Check(o)) {
    v = PyLong_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      return argError(PyExc_TypeError, fn, n, "float");
    }
  } else {
    return argError(PyExc_TypeError, fn, n, "float");
  }
  if (std::isfinite(v) && (v < -FLT_MAX || v > FLT_MAX)) return argError(PyExc_OverflowError, fn, n, "float");
  *out = static_cast<float>(v);
  return true;
}

bool toFloatPtr(PyObject* o, float** out, const char* fn, int n, const char* ctype) {
  if (o == Py_None) {
    *out = nullptr;
    return true;
  }
  if (isPointer(o) && std::strcmp(reinterpret_cast<CPointer*>(o)->ctype, kFloatPtr) == 0) {
    *out = static_cast<float*>(reinterpret_cast<CPointer*>(o)->ptr);
    return true;
  }
  return argError(PyExc_TypeError, fn, n, ctype);
}

// A text argument: a private zero-padded copy of a str, or a "char *" pointer.
struct Text {
  char* ptr = nullptr;
  Py_ssize_t length = -1;  // UTF-8 bytes of the str; -1 for a raw pointer
  bool owned = false;
  Text() = default;
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  ~Text() {
    if (owned) PyMem_Free(ptr);
  }
};

// minSize: the least the copy holds, so C functions that write a fixed
// amount stay inside it whatever str was passed.
bool toText(PyObject* o, Text* t, Py_ssize_t minSize, const char* fn, int n, const char* ctype) {
  if (PyUnicode_Check(o)) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(o, &len);
    if (utf8 == nullptr) {
      PyErr_Clear();
      return argError(PyExc_TypeError, fn, n, ctype);
    }
    const Py_ssize_t size = len + 1 > minSize ? len + 1 : minSize;
    t->ptr = static_cast<char*>(PyMem_Calloc(static_cast<size_t>(size), 1));
    if (t->ptr == nullptr) {
      PyErr_NoMemory();
      return false;
    }
    t->owned = true;
    std::memcpy(t->ptr, utf8, static_cast<size_t>(len));
    t->length = len;
    return true;
  }
  if (isPointer(o) && std::strcmp(reinterpret_cast<CPointer*>(o)->ctype, kCharPtr) == 0) {
    t->ptr = static_cast<char*>(reinterpret_cast<CPointer*>(o)->ptr);
    return true;
  }
  return argError(PyExc_TypeError, fn, n, ctype);
}

PyObject* decodeText(const char* s, size_t cap) {
  return PyUnicode_DecodeUTF8(s, static_cast<Py_ssize_t>(strnlen(s, cap)), "surrogateescape");
}

PyObject* intResult(int32_t r) { return PyLong_FromLong(r); }

// ---------------------------------------------------------------------------
// One wrapper per C function.

PyObject* w_Create(PyObject*, PyObject*) { return newPointer(QUORLAX_Create(), kVoidPtr); }

PyObject* w_Destroy(PyObject*, PyObject* arg) {
  void* h;
  if (!toHandle(arg, &h, "QUORLAX_Destroy", 1)) return nullptr;
  gBufferSizes.erase(h);
  QUORLAX_Destroy(h);
  // A destroyed handle answers like None from now on instead of reaching freed memory.
  PyObject* target = arg;
  PyObject* inner = isPointer(arg) ? nullptr : PyObject_GetAttrString(arg, "this");
  if (inner == nullptr) PyErr_Clear();
  else target = inner;
  if (isPointer(target)) reinterpret_cast<CPointer*>(target)->ptr = nullptr;
  Py_XDECREF(inner);
  Py_RETURN_NONE;
}

PyObject* w_GetVersion(PyObject*, PyObject*) {
  const char* v = QUORLAX_GetVersion();
  if (v == nullptr) Py_RETURN_NONE;
  return PyUnicode_DecodeUTF8(v, static_cast<Py_ssize_t>(std::strlen(v)), "surrogateescape");
}

PyObject* w_GetVersionInfo(PyObject*, PyObject* arg) {
  Text t;
  if (!toText(arg, &t, 32, "QUORLAX_GetVersionInfo", 1, kCharPtr)) return nullptr;
  return intResult(QUORLAX_GetVersionInfo(t.ptr));
}

PyObject* w_Configure(PyObject*, PyObject* const* a, Py_ssize_t nargs) {
  const char* fn = "QUORLAX_Configure";
  int32_t mode, bufferSize;
  float rate;
  void* h;
  if (!checkCount(fn, nargs, 4) || !toInt(a[0], &mode, fn, 1, "int") || !toFloat(a[1], &rate, fn, 2) ||
      !toInt(a[2], &bufferSize, fn, 3, "int32_t") || !toHandle(a[3], &h, fn, 4))
    return nullptr;
  const int32_t r = QUORLAX_Configure(mode, rate, bufferSize, h);
  if (h != nullptr) {
    if (r == QUORLAX_OK)
      gBufferSizes[h] = bufferSize;
    else
      gBufferSizes.erase(h);  // a refused Configure leaves the handle empty
  }
  return intResult(r);
}

PyObject* w_SetAudioSignature(PyObject*, PyObject* const* a, Py_ssize_t nargs) {
  const char* fn = "QUORLAX_SetAudioSignature";
  int32_t size;
  float* samples;
  void* h;
  if (!checkCount(fn, nargs, 3) || !toInt(a[0], &size, fn, 1, "int32_t") ||
      !toFloatPtr(a[1], &samples, fn, 2, "float const *") || !toHandle(a[2], &h, fn, 3))
    return nullptr;
  return intResult(QUORLAX_SetAudioSignature(size, samples, h));
}

PyObject* w_EncodeDataToAudioBuffer(PyObject*, PyObject* const* a, Py_ssize_t nargs) {
  const char* fn = "QUORLAX_EncodeDataToAudioBuffer";
  Text text;
  int32_t size, type, melodySize;
  char* melody = nullptr;
  Py_ssize_t melodyLength = 0;
  void* h;
  if (!checkCount(fn, nargs, 6) || !toText(a[0], &text, 0, fn, 1, "char const *") ||
      !toInt(a[1], &size, fn, 2, "int32_t") || !toInt(a[2], &type, fn, 3, "int32_t"))
    return nullptr;
  if (PyBytes_AsStringAndSize(a[3], &melody, &melodyLength) < 0) return nullptr;
  if (!toInt(a[4], &melodySize, fn, 5, "int32_t") || !toHandle(a[5], &h, fn, 6)) return nullptr;

  if (size < 0) return PyErr_Format(PyExc_ValueError, "size must not be negative, got %d", size);
  if (text.length >= 0 && size > text.length)
    return PyErr_Format(PyExc_ValueError, "size %d exceeds the %zd UTF-8 bytes of stringToEncode", size,
                        text.length);
  if (melodySize < 0) return PyErr_Format(PyExc_ValueError, "melodySize must not be negative, got %d", melodySize);
  if (melodySize > melodyLength)
    return PyErr_Format(PyExc_ValueError, "melodySize %d exceeds the %zd bytes of melodyString", melodySize,
                        melodyLength);
  return intResult(QUORLAX_EncodeDataToAudioBuffer(text.ptr, size, type, melody, melodySize, h));
}

PyObject* w_GetEncodedAudioBuffer(PyObject*, PyObject* const* a, Py_ssize_t nargs) {
  const char* fn = "QUORLAX_GetEncodedAudioBuffer";
  float* buffer;
  void* h;
  if (!checkCount(fn, nargs, 2) || !toFloatPtr(a[0], &buffer, fn, 1, kFloatPtr) || !toHandle(a[1], &h, fn, 2))
    return nullptr;
  return intResult(QUORLAX_GetEncodedAudioBuffer(buffer, h));
}

PyObject* w_ResetEncodedAudioBuffer(PyObject*, PyObject* arg) {
  void* h;
  if (!toHandle(arg, &h, "QUORLAX_ResetEncodedAudioBuffer", 1)) return nullptr;
  return intResult(QUORLAX_ResetEncodedAudioBuffer(h));
}

PyObject* w_DecodeAudioBuffer(PyObject*, PyObject* const* a, Py_ssize_t nargs) {
  const char* fn = "QUORLAX_DecodeAudioBuffer";
  float* buffer;
  int32_t size;
  void* h;
  if (!checkCount(fn, nargs, 3) || !toFloatPtr(a[0], &buffer, fn, 1, kFloatPtr) ||
      !toInt(a[1], &size, fn, 2, "int") || !toHandle(a[2], &h, fn, 3))
    return nullptr;
  return intResult(QUORLAX_DecodeAudioBuffer(buffer, size, h));
}

PyObject* w_GetDecodedData(PyObject*, PyObject* const* a, Py_ssize_t nargs) {
  const char* fn = "QUORLAX_GetDecodedData";
  Text t;
  void* h;
  if (!checkCount(fn, nargs, 2) || !toText(a[0], &t, 32, fn, 1, kCharPtr) || !toHandle(a[1], &h, fn, 2))
    return nullptr;
  return intResult(QUORLAX_GetDecodedData(t.ptr, h));
}

template <float (*F)(void*)>
PyObject* w_floatOfHandle(PyObject* arg, const char* fn) {
  void* h;
  if (!toHandle(arg, &h, fn, 1)) return nullptr;
  return PyFloat_FromDouble(static_cast<double>(F(h)));
}

PyObject* w_GetConfidence(PyObject*, PyObject* arg) {
  return w_floatOfHandle<QUORLAX_GetConfidence>(arg, "QUORLAX_GetConfidence");
}
PyObject* w_GetConfidenceError(PyObject*, PyObject* arg) {
  return w_floatOfHandle<QUORLAX_GetConfidenceError>(arg, "QUORLAX_GetConfidenceError");
}
PyObject* w_GetConfidenceNoise(PyObject*, PyObject* arg) {
  return w_floatOfHandle<QUORLAX_GetConfidenceNoise>(arg, "QUORLAX_GetConfidenceNoise");
}
PyObject* w_GetReceivedZunsVolume(PyObject*, PyObject* arg) {
  return w_floatOfHandle<QUORLAX_GetReceivedZunsVolume>(arg, "QUORLAX_GetReceivedZunsVolume");
}
PyObject* w_GetDecodingBeginFreq(PyObject*, PyObject* arg) {
  return w_floatOfHandle<QUORLAX_GetDecodingBeginFreq>(arg, "QUORLAX_GetDecodingBeginFreq");
}
PyObject* w_GetDecodingEndFreq(PyObject*, PyObject* arg) {
  return w_floatOfHandle<QUORLAX_GetDecodingEndFreq>(arg, "QUORLAX_GetDecodingEndFreq");
}

PyObject* w_GetDecodedMode(PyObject*, PyObject* arg) {
  void* h;
  if (!toHandle(arg, &h, "QUORLAX_GetDecodedMode", 1)) return nullptr;
  return intResult(QUORLAX_GetDecodedMode(h));
}

PyObject* w_SetCustomBaseFreq(PyObject*, PyObject* const* a, Py_ssize_t nargs) {
  const char* fn = "QUORLAX_SetCustomBaseFreq";
  float base;
  int32_t separation;
  void* h;
  if (!checkCount(fn, nargs, 3) || !toFloat(a[0], &base, fn, 1) || !toInt(a[1], &separation, fn, 2, "int") ||
      !toHandle(a[2], &h, fn, 3))
    return nullptr;
  return intResult(QUORLAX_SetCustomBaseFreq(base, separation, h));
}

PyObject* w_SetSynthMode(PyObject*, PyObject* const* a, Py_ssize_t nargs) {
  const char* fn = "QUORLAX_SetSynthMode";
  int32_t synthMode;
  void* h;
  if (!checkCount(fn, nargs, 2) || !toInt(a[0], &synthMode, fn, 1, "int") || !toHandle(a[1], &h, fn, 2))
    return nullptr;
  return intResult(QUORLAX_SetSynthMode(synthMode, h));
}

PyObject* w_SetSynthVolume(PyObject*, PyObject* const* a, Py_ssize_t nargs) {
  const char* fn = "QUORLAX_SetSynthVolume";
  float volume;
  void* h;
  if (!checkCount(fn, nargs, 2) || !toFloat(a[0], &volume, fn, 1) || !toHandle(a[1], &h, fn, 2)) return nullptr;
  return intResult(QUORLAX_SetSynthVolume(volume, h));
}

PyObject* w_GetSpectrum(PyObject*, PyObject* const* a, Py_ssize_t nargs) {
  const char* fn = "QUORLAX_GetSpectrum";
  float* buffer;
  void* h;
  if (!checkCount(fn, nargs, 2) || !toFloatPtr(a[0], &buffer, fn, 1, kFloatPtr) || !toHandle(a[1], &h, fn, 2))
    return nullptr;
  return intResult(QUORLAX_GetSpectrum(buffer, h));
}

PyObject* w_GetErrorText(PyObject*, PyObject* arg) {
  int32_t code;
  if (!toInt(arg, &code, "QUORLAX_GetErrorText", 1, "int")) return nullptr;
  const char* text = QUORLAX_GetErrorText(code);
  return PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "surrogateescape");
}

// ---------------------------------------------------------------------------
// NumPy helpers.

PyObject* h_DecodeAudioBuffer(PyObject*, PyObject* const* a, Py_ssize_t nargs) {
  const char* fn = "DecodeAudioBuffer";
  int32_t size;
  void* h;
  if (!checkCount(fn, nargs, 3) || !toInt(a[1], &size, fn, 2, "int") || !toHandle(a[2], &h, fn, 3))
    return nullptr;
  PyObject* arr = PyArray_FromAny(a[0], PyArray_DescrFromType(NPY_FLOAT32), 0, 0,
                                  NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED | NPY_ARRAY_FORCECAST, nullptr);
  if (arr == nullptr) return nullptr;
  PyArrayObject* array = reinterpret_cast<PyArrayObject*>(arr);
  const npy_intp count = PyArray_SIZE(array);
  if (size < 0 || size > count) {
    Py_DECREF(arr);
    return PyErr_Format(PyExc_ValueError, "size %d is outside 0..%zd, the sample count of audio", size,
                        static_cast<Py_ssize_t>(count));
  }
  const int32_t r = QUORLAX_DecodeAudioBuffer(static_cast<float*>(PyArray_DATA(array)), size, h);
  Py_DECREF(arr);
  return intResult(r);
}

PyObject* h_GetDecodedData(PyObject*, PyObject* arg) {
  void* h;
  if (!toHandle(arg, &h, "GetDecodedData", 1)) return nullptr;
  char text[30] = {0};
  const int32_t r = QUORLAX_GetDecodedData(text, h);
  PyObject* s = decodeText(text, sizeof text);
  if (s == nullptr) return nullptr;
  return Py_BuildValue("(iN)", static_cast<int>(r), s);
}

PyObject* h_GetEncodedAudioBuffer(PyObject*, PyObject* const* a, Py_ssize_t nargs) {
  const char* fn = "GetEncodedAudioBuffer";
  void* h;
  if (!checkCount(fn, nargs, 2) || !toHandle(a[1], &h, fn, 2)) return nullptr;
  PyObject* audio = a[0];
  if (!PyArray_Check(audio)) {
    return PyErr_Format(PyExc_TypeError, "in method '%s', argument 1: audio must be a numpy.ndarray, not %s", fn,
                        Py_TYPE(audio)->tp_name);
  }
  PyArrayObject* array = reinterpret_cast<PyArrayObject*>(audio);
  if (PyArray_TYPE(array) != NPY_FLOAT32 || !PyArray_ISNOTSWAPPED(array) || !PyArray_IS_C_CONTIGUOUS(array) ||
      !PyArray_ISALIGNED(array) || !PyArray_ISWRITEABLE(array)) {
    return PyErr_Format(PyExc_TypeError,
                        "in method '%s', argument 1: audio must be a writeable, aligned, C-contiguous "
                        "native float32 array",
                        fn);
  }
  const auto known = gBufferSizes.find(h);
  if (known != gBufferSizes.end() && PyArray_SIZE(array) < known->second) {
    return PyErr_Format(PyExc_ValueError, "audio holds %zd samples, fewer than the handle's buffer size %d",
                        static_cast<Py_ssize_t>(PyArray_SIZE(array)), static_cast<int>(known->second));
  }
  const int32_t r = QUORLAX_GetEncodedAudioBuffer(static_cast<float*>(PyArray_DATA(array)), h);
  PySys_WriteStdout("QUORLAX_GetEncodedAudioBuffer: result=%d\n", static_cast<int>(r));
  return intResult(r);
}

// ---------------------------------------------------------------------------

template <typename F>
PyCFunction cfn(F f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f));
}

PyMethodDef kMethods[] = {
    {"QUORLAX_Create", cfn(w_Create), METH_NOARGS, nullptr},
    {"QUORLAX_Destroy", cfn(w_Destroy), METH_O, nullptr},
    {"QUORLAX_GetVersion", cfn(w_GetVersion), METH_NOARGS, nullptr},
    {"QUORLAX_GetVersionInfo", cfn(w_GetVersionInfo), METH_O, nullptr},
    {"QUORLAX_Configure", cfn(w_Configure), METH_FASTCALL, nullptr},
    {"QUORLAX_SetAudioSignature", cfn(w_SetAudioSignature), METH_FASTCALL, nullptr},
    {"QUORLAX_EncodeDataToAudioBuffer", cfn(w_EncodeDataToAudioBuffer), METH_FASTCALL, nullptr},
    {"QUORLAX_GetEncodedAudioBuffer", cfn(w_GetEncodedAudioBuffer), METH_FASTCALL, nullptr},
    {"QUORLAX_ResetEncodedAudioBuffer", cfn(w_ResetEncodedAudioBuffer), METH_O, nullptr},
    {"QUORLAX_DecodeAudioBuffer", cfn(w_DecodeAudioBuffer), METH_FASTCALL, nullptr},
    {"QUORLAX_GetDecodedData", cfn(w_GetDecodedData), METH_FASTCALL, nullptr},
    {"QUORLAX_GetConfidence", cfn(w_GetConfidence), METH_O, nullptr},
    {"QUORLAX_GetConfidenceError", cfn(w_GetConfidenceError), METH_O, nullptr},
    {"QUORLAX_GetConfidenceNoise", cfn(w_GetConfidenceNoise), METH_O, nullptr},
    {"QUORLAX_GetReceivedZunsVolume", cfn(w_GetReceivedZunsVolume), METH_O, nullptr},
    {"QUORLAX_GetDecodedMode", cfn(w_GetDecodedMode), METH_O, nullptr},
    {"QUORLAX_SetCustomBaseFreq", cfn(w_SetCustomBaseFreq), METH_FASTCALL, nullptr},
    {"QUORLAX_GetDecodingBeginFreq", cfn(w_GetDecodingBeginFreq), METH_O, nullptr},
    {"QUORLAX_GetDecodingEndFreq", cfn(w_GetDecodingEndFreq), METH_O, nullptr},
    {"QUORLAX_SetSynthMode", cfn(w_SetSynthMode), METH_FASTCALL, nullptr},
    {"QUORLAX_SetSynthVolume", cfn(w_SetSynthVolume), METH_FASTCALL, nullptr},
    {"QUORLAX_GetSpectrum", cfn(w_GetSpectrum), METH_FASTCALL, nullptr},
    {"QUORLAX_GetErrorText", cfn(w_GetErrorText), METH_O, nullptr},
    {"DecodeAudioBuffer", cfn(h_DecodeAudioBuffer), METH_FASTCALL, nullptr},
    {"GetDecodedData", cfn(h_GetDecodedData), METH_O, nullptr},
    {"GetEncodedAudioBuffer", cfn(h_GetEncodedAudioBuffer), METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "_quorlax", nullptr, -1, kMethods, nullptr, nullptr, nullptr, nullptr};

constexpr unsigned kExpectedAbi = 0x1000009;
constexpr unsigned kLeastFeatureVersion = 0xe;

// NumPy's own import_array() cannot be used here: its failure path returns
// from the caller, and this module checks a fixed feature level.
int importNumPy() {
  PyObject* numpy = PyImport_ImportModule("numpy.core._multiarray_umath");
  if (numpy == nullptr) return -1;
  PyObject* capsule = PyObject_GetAttrString(numpy, "_ARRAY_API");
  Py_DECREF(numpy);
  if (capsule == nullptr) {
    PyErr_SetString(PyExc_AttributeError, "_ARRAY_API not found");
    return -1;
  }
  if (!PyCapsule_CheckExact(capsule)) {
    PyErr_SetString(PyExc_RuntimeError, "_ARRAY_API is not PyCapsule object");
    Py_DECREF(capsule);
    return -1;
  }
  void** api = static_cast<void**>(PyCapsule_GetPointer(capsule, nullptr));
  Py_DECREF(capsule);  // numpy's module keeps the table alive
  if (api == nullptr) {
    PyErr_SetString(PyExc_RuntimeError, "_ARRAY_API is NULL pointer");
    return -1;
  }
  using VersionFn = unsigned (*)(void);
  using EndianFn = int (*)(void);
  const unsigned abi = reinterpret_cast<VersionFn>(api[0])();
  if (abi != kExpectedAbi) {
    PyErr_Format(PyExc_RuntimeError, "module compiled against ABI version 0x%x but this version of numpy is 0x%x",
                 static_cast<int>(kExpectedAbi), static_cast<int>(abi));
    return -1;
  }
  const unsigned feature = reinterpret_cast<VersionFn>(api[211])();
  if (feature < kLeastFeatureVersion) {
    PyErr_Format(PyExc_RuntimeError, "module compiled against API version 0x%x but this version of numpy is 0x%x",
                 static_cast<int>(kLeastFeatureVersion), static_cast<int>(feature));
    return -1;
  }
  const int endian = reinterpret_cast<EndianFn>(api[210])();
  if (endian == NPY_CPU_UNKNOWN_ENDIAN) {
    PyErr_SetString(PyExc_RuntimeError, "FATAL: module compiled as unknown endian");
    return -1;
  }
  if (endian != NPY_CPU_LITTLE) {
    PyErr_SetString(PyExc_RuntimeError,
                    "FATAL: module compiled as little endian, but detected different endianness at runtime");
    return -1;
  }
  quorlax_ARRAY_API = api;
  return 0;
}

}  // namespace

PyMODINIT_FUNC PyInit__quorlax(void) {
  PyObject* m = PyModule_Create(&kModule);
  if (m == nullptr) return nullptr;
  if (importNumPy() < 0) {
    PyErr_Print();
    PyErr_SetString(PyExc_ImportError, "numpy.core.multiarray failed to import");
    Py_DECREF(m);
    return nullptr;
  }
  if (gPointerType == nullptr) {
    gPointerType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&kPointerTypeDesc));
    if (gPointerType == nullptr) {
      Py_DECREF(m);
      return nullptr;
    }
  }
  static const struct {
    const char* name;
    long value;
  } kConstants[] = {
      {"QUORLAX_MODE_AUDIBLE", QUORLAX_MODE_AUDIBLE},   {"QUORLAX_MODE_NONAUDIBLE", QUORLAX_MODE_NONAUDIBLE},
      {"QUORLAX_MODE_COMPRESSION", QUORLAX_MODE_COMPRESSION}, {"QUORLAX_MODE_ALL", QUORLAX_MODE_ALL},
      {"QUORLAX_MODE_CUSTOM", QUORLAX_MODE_CUSTOM},
  };
  for (const auto& c : kConstants) {
    if (PyModule_AddIntConstant(m, c.name, c.value) < 0) {
      Py_DECREF(m);
      return nullptr;
    }
  }
  return m;
}
