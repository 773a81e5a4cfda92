package com.orvane.kvo.libs;

/**
 * File services the class library lacks on Windows: copy and move, volumes, attributes, file times,
 * the error-mode switch, the native separator and a message loop for the calling thread. Implemented
 * by nqfsfunc.dll; this declaration is the source of the library's JNI header.
 */
public final class FileSysFuncs {
    // Attribute bits of nativeGetFileAttributes / nativeSetFileAttributes. The library reads these
    // fields at run time and maps them to the system's own bits.
    public static final int FILE_ATTRIBUTE_READONLY = 0x01;
    public static final int FILE_ATTRIBUTE_HIDDEN = 0x02;
    public static final int FILE_ATTRIBUTE_SYSTEM = 0x04;
    public static final int FILE_ATTRIBUTE_DIRECTORY = 0x08;
    public static final int FILE_ATTRIBUTE_ARCHIVE = 0x10;
    public static final int FILE_ATTRIBUTE_NORMAL = 0x20;
    public static final int FILE_ATTRIBUTE_TEMPORARY = 0x40;
    public static final int FILE_ATTRIBUTE_COMPRESSED = 0x80;

    // Results of NativeGetVolumeDriveType (0: unknown, no root directory, or another type).
    public static final int TYPE_FLOPPY = 1;
    public static final int TYPE_FIXED = 2;
    public static final int TYPE_NETWORK = 3;
    public static final int TYPE_CDROM = 4;
    public static final int TYPE_RAMDRIVE = 5;

    // The system's path separator as a Java char; written by initNativeSep.
    public static char native_sep = '\\';

    /** A FILETIME in two halves (100-nanosecond units since 1601-01-01). */
    public static final class FileTime {
        public int lowDateTime;
        public int hiDateTime;
    }

    /** The two 16-bit MS-DOS words of a date and a time. */
    public static final class DosDateTime {
        public int date;
        public int time;
    }

    private FileSysFuncs() {
    }

    public static native boolean NativeCopyFile(String from, String to, boolean overwrite);

    public static native boolean NativeMoveFile(String from, String to, boolean overwrite);

    public static native String[] NativeGetVolumes();

    public static native String NativeGetVolumeName(String root);

    public static native long NativeGetVolumeSize(String root);

    public static native long NativeGetVolumeFreeSpace(String root);

    public static native int NativeGetVolumeDriveType(String root);

    public static native String NativeGetVolumeShareName(String root);

    public static native int NativeDisableErrorHandling();

    public static native int NativeRestoreErrorHandling(int mode);

    public static native void nativeEndThreadAndWindowProcess();

    public static native boolean nativeSetFileAttributes(String path, int attributes);

    public static native int nativeGetFileAttributes(String path);

    public static native boolean nativeGetFileTime(String path, Object creation, Object lastAccess,
            Object lastWrite);

    public static native boolean nativeSetFileTime(String path, Object creation, Object lastAccess,
            Object lastWrite);

    public static native boolean nativeFileTimeToDosDateTime(Object fileTime, Object dosDateTime);

    public static native boolean nativeDosDateTimeToFileTime(Object dosDateTime, Object fileTime);

    public static native void initNativeSep();

    public static native long nativeGetFileTimeMillis(String path, int which);
}
