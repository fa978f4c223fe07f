       COPY A.
