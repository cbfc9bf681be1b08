// The JDK's LDAP CertStore as a peer of the benchmark: revocation lists of
// issuers, or CA certificates of subjects, fetched from a directory with the
// store's cache off (run with -Dsun.security.certpath.ldap.cache.lifetime=0);
// or certificates validated by the JDK's PKIX validator with revocation
// checking, their issuer's certificate and every list from the store.
//
//   java CertStoreBench crl|ca HOST PORT NAMES-FILE WARM TIMED
//   java CertStoreBench verify HOST PORT FILES-FILE WARM TIMED ANCHOR-PEM
//
// NAMES-FILE holds one distinguished name a line, FILES-FILE one certificate
// file a line. The names or files are gone through WARM times over without
// timing, then TIMED times over with timing. Prints "found=N seconds=S": what
// the last round found (CA certificates, the revoked entries of the lists, or
// the valid certificates; for verify also "revoked=R") and the wall time of the
// timed rounds. The JDK asks for the ";binary" attribute descriptions only.
import java.io.FileInputStream;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.security.cert.CertPathValidator;
import java.security.cert.CertPathValidatorException;
import java.security.cert.CertStore;
import java.security.cert.CertificateFactory;
import java.security.cert.LDAPCertStoreParameters;
import java.security.cert.PKIXParameters;
import java.security.cert.TrustAnchor;
import java.security.cert.X509Certificate;
import java.security.cert.X509CRL;
import java.security.cert.X509CRLSelector;
import java.security.cert.X509CertSelector;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Set;
import javax.security.auth.x500.X500Principal;

public final class CertStoreBench {
    private CertStoreBench() {}

    // Objects found for every name, once over.
    private static long round(CertStore store, boolean crls, List<String> names) throws Exception {
        long found = 0;
        for (String name : names) {
            X500Principal principal = new X500Principal(name);
            if (crls) {
                X509CRLSelector selector = new X509CRLSelector();
                selector.addIssuer(principal);
                for (Object crl : store.getCRLs(selector)) {
                    Set<?> revoked = ((X509CRL) crl).getRevokedCertificates();
                    found += revoked != null ? revoked.size() : 0;
                }
            } else {
                X509CertSelector selector = new X509CertSelector();
                selector.setSubject(principal);
                selector.setBasicConstraints(0); // CA certificates only
                found += store.getCertificates(selector).size();
            }
        }
        return found;
    }

    private static X509Certificate read(CertificateFactory factory, String file) throws Exception {
        try (InputStream in = new FileInputStream(file)) {
            return (X509Certificate) factory.generateCertificate(in);
        }
    }

    // Validates every certificate file once over: the certificate read anew
    // (the JDK keeps a certificate's verified signature with the object), its
    // issuer's certificate from the store, the path checked with revocation on.
    // Returns {valid, revoked}.
    private static long[] verifyRound(CertStore store, PKIXParameters params,
                                      CertificateFactory factory, List<String> files)
            throws Exception {
        CertPathValidator validator = CertPathValidator.getInstance("PKIX");
        long[] counts = new long[2];
        for (String file : files) {
            X509Certificate cert = read(factory, file);
            X509CertSelector selector = new X509CertSelector();
            selector.setSubject(cert.getIssuerX500Principal());
            selector.setBasicConstraints(0);
            List<X509Certificate> path = new ArrayList<>();
            path.add(cert);
            for (Object ca : store.getCertificates(selector)) {
                path.add((X509Certificate) ca);
            }
            try {
                validator.validate(factory.generateCertPath(path), params);
                ++counts[0];
            } catch (CertPathValidatorException e) {
                if (e.getReason() == CertPathValidatorException.BasicReason.REVOKED) {
                    ++counts[1];
                }
            }
        }
        return counts;
    }

    public static void main(String[] args) throws Exception {
        boolean verify = args.length == 7 && args[0].equals("verify");
        if (!verify && (args.length != 6 || !(args[0].equals("crl") || args[0].equals("ca")))) {
            System.err.println("usage: CertStoreBench crl|ca HOST PORT NAMES-FILE WARM TIMED\n"
                               + "       CertStoreBench verify HOST PORT FILES-FILE WARM TIMED ANCHOR");
            System.exit(2);
        }
        boolean crls = args[0].equals("crl");
        CertStore store = CertStore.getInstance(
                "LDAP", new LDAPCertStoreParameters(args[1], Integer.parseInt(args[2])));
        List<String> names = Files.readAllLines(Paths.get(args[3]), StandardCharsets.UTF_8);
        int warm = Integer.parseInt(args[4]);
        int timed = Integer.parseInt(args[5]);
        CertificateFactory factory = CertificateFactory.getInstance("X.509");
        PKIXParameters params = null;
        if (verify) {
            params = new PKIXParameters(
                    Collections.singleton(new TrustAnchor(read(factory, args[6]), null)));
            params.addCertStore(store);
            params.setRevocationEnabled(true);
        }
        long[] found = new long[2];
        long start = 0;
        for (int i = 0; i < warm + timed; ++i) {
            if (i == warm) {
                start = System.nanoTime();
            }
            found = verify ? verifyRound(store, params, factory, names)
                           : new long[] {round(store, crls, names), 0};
        }
        double seconds = (System.nanoTime() - start) / 1e9;
        System.out.println("found=" + found[0] + " seconds=" + seconds
                           + (verify ? " revoked=" + found[1] : ""));
    }
}
