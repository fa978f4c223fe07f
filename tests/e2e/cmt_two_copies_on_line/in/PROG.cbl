       COPY CA. COPY CB.
