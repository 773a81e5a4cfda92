package com.orvane.kvo.libs;

/**
 * A file on a local or a network path (\\server\share\...), answered by nqfsfunc.dll.
 */
public class UNCFile {
    // The file's path as given.
    private final String path;

    public UNCFile(String path) {
        this.path = path;
    }

    public String getPath() {
        return path;
    }

    public native boolean exists0_unc();

    public native boolean canRead0_unc();

    public native boolean canWrite0_unc();

    public native boolean isFile0_unc();

    public native boolean isDirectory0_unc();

    public native long lastModified0_unc();

    public native long length0_unc();

    public native boolean mkdir0_unc();

    public native boolean renameTo0_unc(UNCFile dest);

    public native boolean delete0_unc();

    public native boolean rmdir0_unc();

    public native String[] list0_unc();

    public native String canonPath_unc(String p);

    public native boolean isUNC();

    public native boolean isAbsolute();
}
