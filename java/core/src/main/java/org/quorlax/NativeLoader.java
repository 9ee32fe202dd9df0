package org.quorlax;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.util.Locale;

/**
 * Loads the JNI glue: the file named by the system property {@code quorlax.library.path} when it is
 * set; on Android, the app's own libquorlax_jni.so; otherwise the jar's copy for this platform,
 * extracted to a temporary file that is removed once loaded. Written with java.io alone, as Android
 * has it from its first API.
 */
final class NativeLoader {
  static final String LIBRARY = "quorlax_jni";
  static final String PATH_PROPERTY = "quorlax.library.path";
  private static final String RESOURCES = "/org/quorlax/native/";

  private NativeLoader() {}

  static void load() {
    String path = System.getProperty(PATH_PROPERTY, "");
    if (!path.isEmpty()) {
      System.load(new File(path).getAbsolutePath());
    } else if (System.getProperty("java.vm.vendor", "").contains("Android")) {
      System.loadLibrary(LIBRARY);
    } else {
      loadFromJar(platform(System.getProperty("os.name", ""), System.getProperty("os.arch", "")));
    }
  }

  /** The jar's folder for an operating system and processor as Java names them: linux-x86_64, ... */
  static String platform(String osName, String osArch) {
    String os = osName.toLowerCase(Locale.ROOT).replace(" ", "");
    if (os.startsWith("windows")) os = "windows";
    if (os.startsWith("macos")) os = "macos";
    String arch = osArch.toLowerCase(Locale.ROOT);
    switch (arch) {
      case "amd64":
      case "x86_64":
        arch = "x86_64";
        break;
      case "arm64":
      case "aarch64":
        arch = "aarch64";
        break;
      default:
        break;
    }
    return os + "-" + arch;
  }

  /** The platforms this jar carries a library for, one a line. */
  static String carried() {
    try (InputStream in = NativeLoader.class.getResourceAsStream(RESOURCES + "platforms")) {
      if (in == null) return "";
      ByteArrayOutputStream text = new ByteArrayOutputStream();
      copy(in, text);
      return new String(text.toByteArray(), StandardCharsets.UTF_8).trim();
    } catch (IOException e) {
      return "";
    }
  }

  private static void loadFromJar(String platform) {
    String resource = RESOURCES + platform + "/" + System.mapLibraryName(LIBRARY);
    try (InputStream in = NativeLoader.class.getResourceAsStream(resource)) {
      if (in == null) {
        throw new UnsatisfiedLinkError("this quorlax jar has no native library for " + platform + " (it has: "
            + carried().replace('\n', ' ') + "); build one with java/build-native.sh and name it with -D"
            + PATH_PROPERTY + "=FILE");
      }
      File file = File.createTempFile(LIBRARY, ".so");
      try {
        try (OutputStream out = new FileOutputStream(file)) {
          copy(in, out);
        }
        System.load(file.getAbsolutePath());
      } finally {
        if (!file.delete()) file.deleteOnExit();
      }
    } catch (IOException e) {
      UnsatisfiedLinkError error = new UnsatisfiedLinkError("cannot extract " + resource + ": " + e.getMessage());
      error.initCause(e);
      throw error;
    }
  }

  private static void copy(InputStream in, OutputStream out) throws IOException {
    byte[] block = new byte[1 << 16];
    for (int n; (n = in.read(block)) != -1; ) out.write(block, 0, n);
  }
}
