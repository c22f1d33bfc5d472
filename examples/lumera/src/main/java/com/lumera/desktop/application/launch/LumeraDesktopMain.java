package com.lumera.desktop.application.launch;

import java.awt.AWTError;
import java.awt.BorderLayout;
import java.awt.Font;
import java.awt.GraphicsEnvironment;
import java.awt.HeadlessException;
import java.awt.Insets;
import java.awt.event.WindowAdapter;
import java.awt.event.WindowEvent;
import java.util.Arrays;
import java.util.TreeSet;
import javax.swing.BorderFactory;
import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.JScrollPane;
import javax.swing.JTextArea;
import javax.swing.SwingUtilities;
import javax.swing.WindowConstants;

/**
 * Sample desktop application for Corvane. It shows what its launcher handed it (the corvane.*
 * system properties, the working directory and the arguments) and logs the same to standard output,
 * so a test can read it without a display.
 */
public final class LumeraDesktopMain {
    static final String HEADLESS_CHECK = "--headless-check";

    private LumeraDesktopMain() {
    }

    public static void main(String[] args) {
        log("started on Java " + System.getProperty("java.version") + ", "
                + args.length + (args.length == 1 ? " argument" : " arguments"));
        for (int i = 0; i < args.length; i++) {
            // Brackets make the bounds of each argument visible, spaces included.
            log("argument " + (i + 1) + ": [" + args[i] + "]");
        }
        if (Arrays.asList(args).contains(HEADLESS_CHECK) || GraphicsEnvironment.isHeadless()) {
            return;
        }
        try {
            SwingUtilities.invokeLater(() -> showWindow(args));
        } catch (AWTError | HeadlessException e) {
            // The display is named but cannot be reached: say so in one line, not a stack trace.
            System.err.println("Lumera: cannot open a window: " + e.getMessage());
            System.exit(1);
        }
    }

    private static void showWindow(String[] args) {
        JFrame frame = new JFrame("Lumera");
        JLabel label = new JLabel("Lumera was started by its Corvane launcher.");
        label.setBorder(BorderFactory.createEmptyBorder(8, 8, 8, 8));
        JTextArea text = new JTextArea(describe(args), 16, 60);
        text.setEditable(false);
        text.setMargin(new Insets(4, 8, 4, 8));
        text.setFont(new Font(Font.MONOSPACED, Font.PLAIN, 12));
        frame.add(label, BorderLayout.NORTH);
        frame.add(new JScrollPane(text), BorderLayout.CENTER);
        frame.setDefaultCloseOperation(WindowConstants.DO_NOTHING_ON_CLOSE);
        frame.addWindowListener(new WindowAdapter() {
            @Override
            public void windowClosing(WindowEvent e) {
                log("window closed");
                frame.dispose();
                System.exit(0);
            }
        });
        frame.pack();
        frame.setLocationRelativeTo(null);
        frame.setVisible(true);
    }

    /** The text shown in the window: the launcher's properties, the working directory, the arguments. */
    static String describe(String[] args) {
        StringBuilder out = new StringBuilder("System properties:\n");
        TreeSet<String> names = new TreeSet<>();
        for (String name : System.getProperties().stringPropertyNames()) {
            if (name.startsWith("corvane.")) {
                names.add(name);
            }
        }
        if (names.isEmpty()) {
            out.append("  (no corvane.* properties)\n");
        }
        names.add("user.dir");
        for (String name : names) {
            out.append("  ").append(name).append(" = ").append(System.getProperty(name)).append('\n');
        }
        out.append("\nArguments (").append(args.length).append("):\n");
        for (int i = 0; i < args.length; i++) {
            out.append("  ").append(i + 1).append(": [").append(args[i]).append("]\n");
        }
        return out.toString();
    }

    private static void log(String line) {
        System.out.println("Lumera: " + line);
    }
}
