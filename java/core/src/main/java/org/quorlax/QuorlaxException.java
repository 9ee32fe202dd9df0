package org.quorlax;

/**
 * The library refused a call: {@link #code()} is its negative result code and the message names the
 * step and gives the library's sentence for the code.
 */
public class QuorlaxException extends RuntimeException {
  private static final long serialVersionUID = 1L;

  /** A mode value the library does not know, or a band asked of a mode that is not one. */
  public static final int NOT_READY = Native.constant("NOT_READY");
  /** A bad argument: a message that is not its length of alphabet characters, a negative separation. */
  public static final int INVALID_ARGUMENT = Native.constant("ERROR_INVALID_ARGUMENT");
  public static final int NOT_CONFIGURED = Native.constant("ERROR_NOT_CONFIGURED");
  /** A rate or custom grid the mode cannot use. */
  public static final int UNSUPPORTED = Native.constant("ERROR_UNSUPPORTED");
  public static final int OUT_OF_MEMORY = Native.constant("ERROR_OUT_OF_MEMORY");

  private final int code;

  /** Called by the JNI glue as well. */
  QuorlaxException(int code, String what) {
    super(what + ": " + Native.errorText(code));
    this.code = code;
  }

  /** The library's result code (negative). */
  public int code() {
    return code;
  }
}
