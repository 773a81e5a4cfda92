package com.orvane.kvo.libs;

import java.io.IOException;

/**
 * A random-access file whose operations are carried out by nqfsfunc.dll. The natives throw
 * IOException with a fixed message; the bounds of read and write blocks are checked natively too.
 */
public class RndAccessFile {
    // The system's file handle, or -1 when no file is open.
    private long filehandle = -1;

    public RndAccessFile(String name, boolean write) throws IOException {
        openNative(name, write);
    }

    private native void openNative(String name, boolean write) throws IOException;

    public native int readNative() throws IOException;

    public native int readBytesNative(byte[] b, int off, int len) throws IOException;

    public native void writeNative(int b) throws IOException;

    public native void writeBytesNative(byte[] b, int off, int len) throws IOException;

    public native long getFilePointerNative() throws IOException;

    public native void seekNative(long pos) throws IOException;

    public native long lengthNative() throws IOException;

    public native void closeNative() throws IOException;
}
