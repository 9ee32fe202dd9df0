package org.quorlax;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.api.Test;

class NativeLoaderTest {
  @ParameterizedTest(name = "{0} {1}")
  @CsvSource({"Linux, amd64, linux-x86_64", "Linux, x86_64, linux-x86_64", "Linux, aarch64, linux-aarch64",
      "Linux, arm64, linux-aarch64", "Linux, riscv64, linux-riscv64", "Mac OS X, aarch64, macos-aarch64",
      "Windows 11, amd64, windows-x86_64"})
  void platformNames(String os, String arch, String platform) {
    assertEquals(platform, NativeLoader.platform(os, arch));
  }

  /** ELF machine numbers of the platforms a jar may carry. */
  private static final Map<String, Integer> MACHINES = Map.of("linux-x86_64", 62, "linux-aarch64", 183);

  /**
   * Every library the jar carries is a 64-bit ELF shared object for its platform, and the one for
   * this machine is among them.
   */
  @Test
  void carriedLibrariesAreForTheirPlatforms() throws IOException {
    List<String> platforms = List.of(NativeLoader.carried().split("\n"));
    assertTrue(platforms.contains(NativeLoader.platform(System.getProperty("os.name"), System.getProperty("os.arch"))),
        platforms::toString);
    for (String platform : platforms) {
      String resource = "/org/quorlax/native/" + platform + "/libquorlax_jni.so";
      try (InputStream in = NativeLoaderTest.class.getResourceAsStream(resource)) {
        assertNotNull(in, resource);
        ByteBuffer header = ByteBuffer.wrap(in.readNBytes(20)).order(ByteOrder.LITTLE_ENDIAN);
        assertEquals(0x464c457f, header.getInt(0), "ELF magic");
        assertEquals(2, header.get(4), "64-bit");
        assertEquals(3, header.getShort(16), "shared object");
        assertEquals(MACHINES.get(platform), (int) header.getShort(18), platform);
      }
    }
  }
}
